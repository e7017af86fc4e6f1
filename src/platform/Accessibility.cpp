#include "platform/Accessibility.h"

#include "platform/AXNames.h"

namespace quorvel {

namespace {

const Point* pointOf(const AXAttributeResult& result) {
  return result.ok() && result.value.isAXValueType() ? result.value.get<Point>() : nullptr;
}

}  // namespace

std::optional<Rect> Accessibility::frameOf(const AXAttributeResult& position, const AXAttributeResult& size) {
  const Point* origin = pointOf(position);
  if (!origin || !size.ok() || !size.value.isAXValueType()) return std::nullopt;
  const Size* extent = size.value.get<Size>();
  if (!extent || !(extent->width > 0) || !(extent->height > 0)) return std::nullopt;
  return Rect{origin->x, origin->y, extent->width, extent->height};
}

std::optional<Rect> Accessibility::frame(const AXElementRef& element) {
  if (!element) return std::nullopt;
  const AXAttributeResult position = copyAttributeValue(element, AXNames::kPosition);
  if (!pointOf(position)) return std::nullopt;
  return frameOf(position, copyAttributeValue(element, AXNames::kSize));
}

std::optional<std::string> Accessibility::stringAttribute(const AXElementRef& element, const std::string& attribute) {
  if (!element) return std::nullopt;
  AXAttributeResult result = copyAttributeValue(element, attribute);
  if (!result.ok()) return std::nullopt;
  const std::string* text = result.value.get<std::string>();
  if (!text) return std::nullopt;
  return *text;
}

AXElementRef Accessibility::elementAttribute(const AXElementRef& element, const std::string& attribute) {
  if (!element) return nullptr;
  AXAttributeResult result = copyAttributeValue(element, attribute);
  if (!result.ok()) return nullptr;
  const AXElementRef* found = result.value.get<AXElementRef>();
  return found ? *found : nullptr;
}

std::optional<std::vector<AXElementRef>> Accessibility::elementsAttribute(const AXElementRef& element,
                                                                          const std::string& attribute) {
  if (!element) return std::nullopt;
  AXAttributeResult result = copyAttributeValue(element, attribute);
  if (!result.ok()) return std::nullopt;
  const AXValue::Elements* list = result.value.get<AXValue::Elements>();
  if (!list) return std::nullopt;
  std::vector<AXElementRef> out;
  out.reserve(list->size());
  for (const AXElementRef& member : *list) {
    if (member) out.push_back(member);
  }
  return out;
}

AXElementList Accessibility::copyElements(const AXElementRef& element, const std::string& attribute,
                                          size_t maxCount) {
  AXElementList out;
  if (!element) {
    out.error = AXError::illegalArgument;
    return out;
  }
  AXAttributeResult result = copyAttributeValue(element, attribute);
  const AXValue::Elements* list = result.ok() ? result.value.get<AXValue::Elements>() : nullptr;
  if (!list) {
    out.error = result.ok() ? AXError::attributeUnsupported : result.error;
    return out;
  }
  for (const AXElementRef& member : *list) {
    if (!member) continue;
    ++out.total;
    if (out.elements.size() < maxCount) out.elements.push_back(member);
  }
  return out;
}

std::optional<std::vector<AXWindowFacts>> Accessibility::applicationWindows(int32_t pid,
                                                                            AXWindowFacts::Wanted wanted) {
  const AXElementRef application = applicationElement(pid);
  if (!application) return std::nullopt;
  const AXAttributeResult list = copyAttributeValue(application, AXNames::kWindows);
  if (!list.ok()) return std::nullopt;
  const AXValue::Elements* elements = list.value.get<AXValue::Elements>();
  if (!elements) return std::nullopt;

  std::vector<std::string> names{AXNames::kMinimized, AXNames::kSubrole};
  if (wanted.frame) {
    names.push_back(AXNames::kPosition);
    names.push_back(AXNames::kSize);
  }
  if (wanted.title) names.push_back(AXNames::kTitle);

  std::vector<AXWindowFacts> windows;
  windows.reserve(elements->size());
  for (const AXElementRef& element : *elements) {
    if (!element) continue;
    const std::optional<uint32_t> number = windowNumber(element);
    if (!number || *number == 0) continue;
    AXWindowFacts facts;
    facts.element = element;
    facts.number = *number;
    const std::vector<AXAttributeResult> read = copyMultipleAttributeValues(element, names);
    auto at = [&](size_t i) -> const AXAttributeResult* { return i < read.size() && read[i].ok() ? &read[i] : nullptr; };
    if (const auto* minimized = at(0)) {
      if (const bool* flag = minimized->value.get<bool>()) facts.isMinimized = *flag;
    }
    if (const auto* subrole = at(1)) {
      if (const std::string* text = subrole->value.get<std::string>()) facts.subrole = AXSubroles::parse(*text);
    }
    size_t next = 2;
    if (wanted.frame) {
      if (read.size() > next + 1) facts.frame = frameOf(read[next], read[next + 1]);
      next += 2;
    }
    if (wanted.title) {
      if (const auto* title = at(next)) {
        if (const std::string* text = title->value.get<std::string>()) facts.title = *text;
      }
    }
    windows.push_back(std::move(facts));
  }
  return windows;
}

}  // namespace quorvel
