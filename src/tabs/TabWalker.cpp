#include "tabs/TabWalker.h"

#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <array>

#include "base/TextServices.h"
#include "platform/AXNames.h"
#include "platform/Accessibility.h"

namespace quorvel {

namespace {

constexpr std::string_view kDash = " - ";

// The memory units a browser writes after a tab's memory figure.
const std::array<std::string_view, 3>& memoryUnits() {
  static const std::array<std::string_view, 3> units{"kb", "mb", "gb"};
  return units;
}

bool beginsWith(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

// A number character in Unicode's sense (any numeric type: digits of every script, fractions, ...).
bool isNumberCharacter(UChar32 c) { return u_getIntPropertyValue(c, UCHAR_NUMERIC_TYPE) != U_NT_NONE; }

}  // namespace

TabWalker::TabWalker(Accessibility& accessibility, TabAdapter::NudgeRecord& nudges)
    : accessibility_(accessibility), nudges_(nudges) {}

// ---- Element readers ----

void TabWalker::note(AXError error) {
  if (error == AXError::cannotComplete) ++timedOut_;
}

AXAttributeResult TabWalker::read(const AXElementRef& element, const std::string& attribute) {
  if (gaveUp()) return AXAttributeResult{AXError::cannotComplete, {}};
  if (!element) return AXAttributeResult{AXError::illegalArgument, {}};
  AXAttributeResult result = accessibility_.copyAttributeValue(element, attribute);
  note(result.error);
  return result;
}

AXElementList TabWalker::readElements(const AXElementRef& element, const std::string& attribute, size_t maxCount) {
  if (gaveUp()) return AXElementList{AXError::cannotComplete, {}, 0};
  if (!element) return AXElementList{AXError::illegalArgument, {}, 0};
  AXElementList list = accessibility_.copyElements(element, attribute, maxCount);
  note(list.error);
  return list;
}

std::optional<Rect> TabWalker::readFrame(const AXElementRef& element) {
  const AXAttributeResult position = read(element, AXNames::kPosition);
  if (!position.ok()) return std::nullopt;
  return Accessibility::frameOf(position, read(element, AXNames::kSize));
}

std::optional<std::vector<AXElementRef>> TabWalker::elements(const AXElementRef& element,
                                                              const std::string& attribute) {
  const AXAttributeResult result = read(element, attribute);
  const AXValue::Elements* list = result.ok() ? result.value.get<AXValue::Elements>() : nullptr;
  if (!list) return std::nullopt;
  std::vector<AXElementRef> out;
  for (const AXElementRef& member : *list) {
    if (member) out.push_back(member);
  }
  return out;
}

std::optional<std::string> TabWalker::string(const AXElementRef& element, const std::string& attribute) {
  const AXAttributeResult result = read(element, attribute);
  const std::string* text = result.ok() ? result.value.get<std::string>() : nullptr;
  if (!text) return std::nullopt;
  return *text;
}

// ---- Finding the strip ----

AXElementRef TabWalker::findContainer(const AXElementRef& window, const TabAdapter& adapter) {
  if (!window) return nullptr;
  std::vector<AXElementRef> level{window};
  size_t examined = 0;
  for (size_t depth = 0; depth < kMaxLevels && !level.empty(); ++depth) {
    std::vector<AXElementRef> next;
    for (const AXElementRef& element : level) {
      if (examined == kMaxElements || gaveUp()) return nullptr;
      ++examined;
      const std::optional<std::string> role = string(element, AXNames::kRole);
      if (role) {
        std::optional<std::string> identifier;
        bool identifierRead = false;
        for (const TabAdapter::ContainerMatch& match : adapter.containers) {
          if (match.role != *role) continue;
          if (!match.identifierPrefix) return element;
          if (!identifierRead) {
            identifier = string(element, AXNames::kIdentifier);
            identifierRead = true;
          }
          if (identifier && beginsWith(*identifier, *match.identifierPrefix)) return element;
        }
      }
      // Children of the last level, and children past the element limit, are never looked at:
      // they are not read or kept (a window may list thousands of children).
      const size_t room = kMaxElements - examined;
      if (depth + 1 < kMaxLevels && next.size() < room) {
        AXElementList children = readElements(element, AXNames::kChildren, room - next.size());
        next.insert(next.end(), children.elements.begin(), children.elements.end());
      }
    }
    level = std::move(next);
  }
  return nullptr;
}

std::vector<AXElementRef> TabWalker::filterBySubrole(const std::vector<AXElementRef>& tabs,
                                                     const std::string& subrole) {
  std::vector<AXElementRef> kept;
  for (const AXElementRef& tab : tabs) {
    const std::optional<std::string> value = string(tab, AXNames::kSubrole);
    if (value && *value == subrole) kept.push_back(tab);
  }
  return kept;
}

TabWalker::StripTabs TabWalker::tabElements(const AXElementRef& window, const TabAdapter& adapter) {
  const AXElementRef container = findContainer(window, adapter);
  if (!container) return {};
  AXElementList listed;
  for (TabAdapter::ContainerRoute route : adapter.routes) {
    const char* attribute = route == TabAdapter::ContainerRoute::tabsAttribute ? AXNames::kTabs : AXNames::kChildren;
    // A strip may list thousands of children: no more are read than the walk keeps.
    listed = readElements(container, attribute, kMaxTabs);
    // A strip whose tabs do not answer is not asked again another way.
    if (listed.error == AXError::cannotComplete) return StripTabs{{}, 0, true};
    if (listed.ok() && !listed.elements.empty()) break;
  }
  if (!listed.ok() || listed.elements.empty()) return {};
  StripTabs found;
  found.tabs = adapter.tabSubrole ? filterBySubrole(listed.elements, *adapter.tabSubrole) : std::move(listed.elements);
  // Members past the ones read count as tabs.
  found.total = found.tabs.size() + (listed.total - std::min(listed.total, size_t(kMaxTabs)));
  return found;
}

std::optional<Rect> TabWalker::faviconFrame(const AXElementRef& tab, const TabAdapter& adapter) {
  if (!adapter.faviconChildIdentifier) return std::nullopt;
  const std::optional<std::vector<AXElementRef>> children = elements(tab, AXNames::kChildren);
  if (!children) return std::nullopt;
  for (const AXElementRef& child : *children) {
    const std::optional<std::string> identifier = string(child, AXNames::kIdentifier);
    if (identifier && beginsWith(*identifier, *adapter.faviconChildIdentifier)) {
      return readFrame(child);
    }
  }
  return std::nullopt;
}

// ---- One tab ----

std::string TabWalker::readTitle(const AXElementRef& tab, const TabAdapter& adapter) {
  std::string title;
  for (const std::string& attribute : adapter.titleAttributes) {
    std::optional<std::string> text = string(tab, attribute);
    if (text && !text->empty()) {
      title = std::move(*text);
      break;
    }
  }
  if (adapter.trimsMemoryAnnotation) return stripMemoryAnnotation(title);
  return title;
}

bool TabWalker::readSelected(const AXElementRef& tab, const std::string& attribute) {
  AXAttributeResult result = read(tab, attribute);
  if (!result.ok()) return false;
  if (const bool* flag = result.value.get<bool>()) return *flag;
  if (const int64_t* number = result.value.get<int64_t>()) return *number != 0;
  if (const double* number = result.value.get<double>()) return *number != 0;
  return false;
}

// ---- The walk ----

TabWalker::Walk TabWalker::walk(const AXHandle& window, int32_t pid, const TabAdapter& adapter, bool readTitle,
                                bool readFrames) {
  bool fresh = false;
  if (adapter.needsNudge) fresh = nudges_.nudge(pid) == NudgeResult::fresh;
  timedOut_ = 0;
  // An application that stops answering: the walk ends, empty and not to be kept.
  const auto gaveUpWalk = [] {
    Walk empty;
    empty.mayCache = false;
    return empty;
  };

  const AXElementRef& windowElement = window.element();
  if (windowElement) accessibility_.setMessagingTimeout(windowElement, kMessagingTimeout);

  Walk result;
  StripTabs found = tabElements(windowElement, adapter);
  if (gaveUp() || found.unanswered) return gaveUpWalk();
  const size_t kept = std::min(found.tabs.size(), kMaxTabs);
  result.dropped = found.total > kMaxTabs ? static_cast<int>(found.total - kMaxTabs) : 0;
  result.tabs.reserve(kept);

  bool anyTitle = false;
  for (size_t i = 0; i < kept; ++i) {
    const AXElementRef& element = found.tabs[i];
    TabRecord record;
    record.title = this->readTitle(element, adapter);
    record.isSelected = readSelected(element, adapter.selectedAttribute);
    if (readFrames) {
      if (adapter.hasSiteIcon) record.frame = readFrame(element);
      record.faviconFrame = faviconFrame(element, adapter);
    }
    if (gaveUp()) return gaveUpWalk();
    record.element = AXHandle::make(element);
    record.ordinal = static_cast<int>(i);
    anyTitle = anyTitle || !record.title.empty();
    result.tabs.push_back(std::move(record));
  }

  if (readFrames) result.hostFrame = readFrame(windowElement);
  if (readTitle) result.accessibleTitle = string(windowElement, AXNames::kTitle);
  if (gaveUp()) return gaveUpWalk();

  // Right after an application was switched on its tree may still be filling in: an answer without
  // any title then is not worth keeping.
  if (!fresh) {
    result.mayCache = true;
  } else if (!readTitle) {
    result.mayCache = anyTitle;
  } else {
    result.mayCache = anyTitle && result.accessibleTitle && !result.accessibleTitle->empty();
  }
  return result;
}

TabWalker::WindowTitles TabWalker::readWindowTitles(const std::vector<std::pair<uint32_t, AXHandleRef>>& windows,
                                                    int32_t pid, bool nudgeFirst) {
  WindowTitles result;
  if (windows.empty()) return result;
  bool fresh = false;
  if (nudgeFirst) fresh = nudges_.nudge(pid) == NudgeResult::fresh;
  timedOut_ = 0;
  for (const auto& [number, handle] : windows) {
    if (gaveUp()) break;
    if (!handle || !handle->element()) continue;
    accessibility_.setMessagingTimeout(handle->element(), kMessagingTimeout);
    std::optional<std::string> title = string(handle->element(), AXNames::kTitle);
    if (title && !title->empty()) result.titles[number] = std::move(*title);
  }
  result.mayCache = !gaveUp() && (!fresh || !result.titles.empty());
  return result;
}

// ---- Titles ----

bool TabWalker::isMemoryFigure(std::string_view fragment) {
  std::vector<std::string_view> words;
  size_t start = 0;
  while (start <= fragment.size()) {
    size_t end = fragment.find(' ', start);
    if (end == std::string_view::npos) end = fragment.size();
    if (end > start) words.push_back(fragment.substr(start, end - start));
    start = end + 1;
  }
  if (words.size() != 2) return false;

  const std::string unit = TextServices::lowercased(words[1], "root");
  bool knownUnit = false;
  for (std::string_view u : memoryUnits()) knownUnit = knownUnit || unit == u;
  if (!knownUnit) return false;

  const std::string_view number = words[0];
  const auto* bytes = reinterpret_cast<const uint8_t*>(number.data());
  const int32_t length = static_cast<int32_t>(number.size());
  int digits = 0;
  int separators = 0;
  for (int32_t i = 0; i < length;) {
    UChar32 c;
    U8_NEXT(bytes, i, length, c);
    if (c == '.' || c == ',') {
      ++separators;
    } else if (c >= 0 && isNumberCharacter(c)) {
      ++digits;
    } else {
      return false;
    }
  }
  return digits >= 1 && separators <= 1;
}

std::string TabWalker::stripMemoryAnnotation(std::string_view title) {
  const size_t last = title.rfind(kDash);
  if (last == std::string_view::npos) return std::string(title);
  if (!isMemoryFigure(title.substr(last + kDash.size()))) return std::string(title);

  const std::string_view head = title.substr(0, last);
  const size_t second = head.rfind(kDash);
  if (second == std::string_view::npos) return std::string(title);
  const std::string_view middle = head.substr(second + kDash.size());
  const std::string_view front = head.substr(0, second);
  // The label between the two dashes ("Memory usage", in the browser's language) is short; a long
  // middle part is the page's own title text.
  if (!middle.empty() && TextServices::graphemeCount(middle) <= 40 && !front.empty()) return std::string(front);
  return std::string(title);
}

}  // namespace quorvel
