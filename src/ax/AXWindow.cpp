#include "ax/AXWindow.h"

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
  return accessibility.frame(element);
}

std::unordered_map<uint32_t, WindowAXInfo> AXWindow::windows(Accessibility& accessibility, int32_t pid) {
  std::unordered_map<uint32_t, WindowAXInfo> table;
  if (!accessibility.isProcessTrusted()) return table;
  // An application that does not answer holds the Accessibility queue for the time-out at most.
  if (const AXElementRef application = accessibility.applicationElement(pid)) {
    accessibility.setMessagingTimeout(application, kMessagingTimeout);
  }
  std::optional<std::vector<AXWindowFacts>> windows = accessibility.applicationWindows(pid, {});
  if (!windows) return table;
  for (AXWindowFacts& facts : *windows) {
    WindowAXInfo info;
    info.handle = AXHandle::make(std::move(facts.element));
    info.isMinimized = facts.isMinimized;
    info.subrole = facts.subrole;
    table[facts.number] = std::move(info);
  }
  return table;
}

}  // namespace quorvel
