#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/Geometry.h"
#include "platform/Accessibility.h"
#include "platform/atspi/AtspiBus.h"
#include "platform/atspi/AtspiElement.h"

namespace quorvel {

// Accessibility over Linux's accessibility bus (AT-SPI 2): the element trees that applications
// publish there, in the program's own vocabulary. Elements are AtspiElement; every call on one
// waits at most the element's messaging time-out (0.5 s unless set otherwise).
//
// application element (found by process id among the applications registered with the bus)
//   "AXRole" "AXApplication"; "AXTitle" its name; "AXWindows" its top-level windows (frames,
//   windows, dialogs); "AXMainWindow" and "AXFocusedWindow" its active window (no value when none
//   is active); "AXMenuBar" the first menu bar within its windows (three levels deep at most).
//   "AXManualAccessibility" and "AXEnhancedUserInterface" stand for the session's assistive
//   technology switch (org.a11y.Status "IsEnabled"): setting either true turns it on for every
//   application, and either reads back whether it is on.
//
// any other element
//   "AXRole" and "AXSubrole" mapped from its AT-SPI role (AtspiRoles); "AXTitle" its name;
//   "AXDescription" its description; "AXIdentifier" its "id" object attribute; "AXChildren" (of a
//   tab strip: only its tabs, each child asked for its role; copyElements asks no further than the
//   count it was given, and a strip whose children stop answering is given up on after
//   kTimeoutsPerRead of them); "AXParent"; "AXTabs" (tab strips only: their tabs); "AXSelected", "AXFocused",
//   "AXMinimized" from its states; "AXPosition" and "AXSize" from its screen extents.
//   An empty name or description reads as the empty text, not as no value.
//   "AXPress" does the element's first action named "press", "click", "switch", "doDefault",
//   "activate", "jump" or "select"; an element without one is selected through its parent's Selection
//   interface, when the parent has one. Setting "AXSelected" true selects it the same way.
//
// Errors: an object or application that is gone answers invalidElement; one that does not answer
// in time, or a bus that is down, cannotComplete; an attribute not listed (or an interface the
// object lacks) attributeUnsupported. There are no observers (notImplemented) and no window
// numbers: the window-system backend matches windows (matchWindow) and numbers them itself.
//
// Thread-safe: the only state is a cache of which bus connection belongs to which process, under
// a lock that is never held across a call on the bus.
class AtspiAccessibility final : public Accessibility {
 public:
  using Timeout = std::chrono::milliseconds;
  // Children of one list read that may time out before the read gives up (cannotComplete).
  static constexpr int kTimeoutsPerRead = 2;

  explicit AtspiAccessibility(std::shared_ptr<AtspiBus> bus);

  bool isProcessTrusted() override;
  bool isProcessTrustedWithPrompt(bool prompt) override;
  // The application element of a process; none when no application of that process is registered.
  AXElementRef applicationElement(int32_t pid) override;
  AXAttributeResult copyAttributeValue(const AXElementRef& element, const std::string& attribute) override;
  std::vector<AXAttributeResult> copyMultipleAttributeValues(const AXElementRef& element,
                                                             const std::vector<std::string>& attributes) override;
  AXError copyAttributeNames(const AXElementRef& element, std::vector<std::string>& names) override;
  AXElementList copyElements(const AXElementRef& element, const std::string& attribute, size_t maxCount) override;
  AXError setAttributeValue(const AXElementRef& element, const std::string& attribute, const AXValue& value) override;
  AXError performAction(const AXElementRef& element, const std::string& action) override;
  AXError setMessagingTimeout(const AXElementRef& element, float seconds) override;
  std::optional<int32_t> pid(const AXElementRef& element) override;
  std::optional<uint32_t> windowNumber(const AXElementRef& element) override;
  std::pair<AXError, std::shared_ptr<AXObserver>> createObserver(int32_t pid, AXObserver::Callback callback) override;

  // Whether the session's assistive technology switch is on (so that browsers serve their trees);
  // none when the bus does not answer within `timeout`.
  std::optional<bool> assistiveTechnologyOn(Timeout timeout);

  // The top-level window element of a process that stands for a window of the window system with
  // this title and frame (the frame with decorations, screen pixels): among the application's
  // windows, the only one with exactly that title; else, among those with that title (or all, when
  // none has it), the one whose extents lie within the frame and come closest to it; else, when
  // `onlyWindow` says the process has no other window and the application one, that one. None
  // when nothing matches or the bus does not answer within `timeout`.
  AXElementRef matchWindow(int32_t pid, const std::string& title, const std::optional<Rect>& frame,
                           bool onlyWindow, Timeout timeout = AtspiElement::kDefaultTimeout);

  // The session's assistive technology switch, whichever application asks: setting it on (off is
  // never passed on: other clients may rely on it), and reading it.
  AXError setAssistiveTechnology(const AXValue& value, Timeout timeout = AtspiElement::kDefaultTimeout);
  AXAttributeResult assistiveTechnology(Timeout timeout = AtspiElement::kDefaultTimeout);

  // The application element of a process with its calls bounded by `timeout`.
  std::shared_ptr<const AtspiElement> application(int32_t pid, Timeout timeout);

 private:
  std::optional<std::string> busOf(int32_t pid, Timeout timeout);
  void forgetBus(const std::string& bus);

  std::shared_ptr<AtspiBus> bus_;
  std::mutex mutex_;
  std::unordered_map<std::string, int32_t> pidByBus_;  // bus names are never reused: kept for the run
};

}  // namespace quorvel
