#include "windows/ax/AXWindow.h"

#include "platform/Accessibility.h"

namespace quorvel {

std::optional<AXValue> AXWindow::value(Accessibility& accessibility, const AXElementRef& element,
                                       const std::string& attribute) {
  if (!element) return std::nullopt;
  AXAttributeResult result = accessibility.copyAttributeValue(element, attribute);
  if (!result.ok() || result.value.isEmpty() || !result.value.isAXValueType()) return std::nullopt;
  return std::move(result.value);
}

std::optional<Rect> AXWindow::frame(Accessibility& accessibility, const AXElementRef& element) {
  const auto position = value(accessibility, element, "AXPosition");
  if (!position) return std::nullopt;
  const Point* origin = position->get<Point>();
  if (!origin) return std::nullopt;
  const auto sizeValue = value(accessibility, element, "AXSize");
  if (!sizeValue) return std::nullopt;
  const Size* size = sizeValue->get<Size>();
  if (!size) return std::nullopt;
  if (!(size->width > 0) || !(size->height > 0)) return std::nullopt;
  return Rect{origin->x, origin->y, size->width, size->height};
}

std::unordered_map<uint32_t, WindowAXInfo> AXWindow::windows(Accessibility& accessibility, int32_t pid) {
  std::unordered_map<uint32_t, WindowAXInfo> table;
  if (!accessibility.isProcessTrusted()) return table;
  const AXElementRef application = accessibility.applicationElement(pid);
  if (!application) return table;
  const AXAttributeResult list = accessibility.copyAttributeValue(application, "AXWindows");
  if (!list.ok()) return table;
  const AXValue::Elements* elements = list.value.get<AXValue::Elements>();
  if (!elements) return table;
  for (const AXElementRef& element : *elements) {
    if (!element) continue;
    const std::optional<uint32_t> number = accessibility.windowNumber(element);
    if (!number || *number == 0) continue;
    WindowAXInfo info;
    info.handle = AXHandle::make(element);
    const auto facts = accessibility.copyMultipleAttributeValues(element, {"AXMinimized", "AXSubrole"});
    if (facts.size() > 0 && facts[0].ok()) {
      if (const bool* minimized = facts[0].value.get<bool>()) info.isMinimized = *minimized;
    }
    if (facts.size() > 1 && facts[1].ok()) {
      if (const std::string* subrole = facts[1].value.get<std::string>()) info.subrole = *subrole;
    }
    table[*number] = std::move(info);
  }
  return table;
}

}  // namespace quorvel
