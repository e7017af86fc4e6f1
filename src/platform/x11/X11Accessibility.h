#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/Accessibility.h"

namespace quorvel {

class AtspiAccessibility;
class X11Backend;
class X11Observer;

// Accessibility over an X session, at the level of windows only. Any X client may read and ask the
// window manager about any window, so the process is always trusted. Elements (X11Element):
//
// application element (a process id)
//   "AXRole"          "AXApplication"
//   "AXTitle"         the application's name (X11Backend::applicationName) of its front window
//   "AXWindows"       a window element per managed window of the process, front to back
//   "AXFocusedWindow" the active window when it is the process's, else its front-most window on
//                     screen; no value when it has none
//   "AXFrontmost"     whether the active window is the process's
//   An application element answers invalidElement once the process has neither windows nor life.
//
// window element (a managed window of the process)
//   "AXRole" "AXWindow"; "AXSubrole" "AXStandardWindow" (normal), "AXDialog" (dialog, or modal),
//   "AXFloatingWindow" (utility, toolbar), else "AXUnknown"; "AXTitle"; "AXMinimized" (iconified);
//   "AXPosition" and "AXSize" (the frame with decorations, global top-left coordinates);
//   "AXMain" and "AXFocused" (it is the active window); "AXFullScreen"; "AXCloseButton" (its close
//   button element).
//   Setting "AXMinimized" true iconifies it; false maps it when it is minimized, which restores it.
//   Setting "AXMain" or "AXFocused" true activates it; false changes nothing.
//   Setting "AXFullScreen" adds or removes the window manager's full-screen state.
//   Setting "AXPosition" or "AXSize" asks the window manager to move or resize the frame
//   (X11WindowActions::setFrame) and waits a moment for it; whether it did is read back after. All
//   six settable attributes answer settable (isAttributeSettable); others do not.
//   Actions: "AXRaise" activates it (raise and focus, switching to its desktop when it lies on
//   another); kCloseAction ("AXClose") asks it to close (_NET_CLOSE_WINDOW).
//   windowNumber() is its X window id.
//
// close button element: "AXRole" "AXButton", "AXSubrole" "AXCloseButton"; "AXPress" asks the window
// to close, as kCloseAction does.
//
// Activations are pager requests (EWMH source 2) stamped with the server's current time, so the
// window manager's focus-stealing prevention lets them through. A window that is gone, or is no
// longer managed, or whose id now belongs to another process, answers invalidElement; a lost
// connection answers cannotComplete; an attribute not listed answers attributeUnsupported. Messaging
// time-outs set on these elements change nothing: no call on them waits on another application.
//
// Below windows: the element trees that applications publish on the accessibility bus, when one is
// given (AtspiAccessibility). A window element's "AXChildren" are the children of the application's
// top-level object that matches the window (its process, then its title, then its frame); the
// elements found there, and everything read from them, are AtspiElements, answered by the bus side
// with its own time-outs. On an application element, "AXManualAccessibility",
// "AXEnhancedUserInterface" (the session's assistive technology switch, which the tab walk's nudge
// turns on) and "AXMenuBar" are the bus side's too. A window's "AXTitle" is the matching object's
// name when it has a non-empty one (browsers mark private windows there, not always in the
// window's own title), else the window's title. Without a bus side, or for a window no object
// matches, "AXChildren" has no value and tab readers find no tabs.
//
// applicationWindows() answers from one snapshot of the window model, without an element per
// attribute: the same windows and facts as the reads above give.
//
// Observers: see X11Observer; none is made once the connection is lost (cannotComplete). The
// platform's event thread calls activeWindowChanged.
class X11Accessibility final : public Accessibility {
 public:
  static constexpr const char* kCloseAction = "AXClose";

  explicit X11Accessibility(std::shared_ptr<X11Backend> backend, std::shared_ptr<AtspiAccessibility> tree = nullptr);

  bool isProcessTrusted() override;
  bool isProcessTrustedWithPrompt(bool prompt) override;
  AXElementRef applicationElement(int32_t pid) override;
  AXAttributeResult copyAttributeValue(const AXElementRef& element, const std::string& attribute) override;
  std::vector<AXAttributeResult> copyMultipleAttributeValues(const AXElementRef& element,
                                                             const std::vector<std::string>& attributes) override;
  AXError copyAttributeNames(const AXElementRef& element, std::vector<std::string>& names) override;
  AXElementList copyElements(const AXElementRef& element, const std::string& attribute, size_t maxCount) override;
  AXError setAttributeValue(const AXElementRef& element, const std::string& attribute, const AXValue& value) override;
  AXError performAction(const AXElementRef& element, const std::string& action) override;
  AXError isAttributeSettable(const AXElementRef& element, const std::string& attribute, bool& settable) override;
  AXError setMessagingTimeout(const AXElementRef& element, float seconds) override;
  std::optional<int32_t> pid(const AXElementRef& element) override;
  std::optional<uint32_t> windowNumber(const AXElementRef& element) override;
  std::pair<AXError, std::shared_ptr<AXObserver>> createObserver(int32_t pid, AXObserver::Callback callback) override;
  std::optional<std::vector<AXWindowFacts>> applicationWindows(int32_t pid, AXWindowFacts::Wanted wanted) override;

  // Whether other applications' element trees can be read: the accessibility bus answers within
  // `timeout` and its assistive technology switch is on. Blocks for up to `timeout`.
  bool elementTreesReadable(std::chrono::milliseconds timeout);

  // The window manager's active window became `window`, owned by `pid`: tells that process's
  // observers.
  void activeWindowChanged(int32_t pid, uint32_t window);

 private:
  std::shared_ptr<X11Backend> backend_;
  std::shared_ptr<AtspiAccessibility> tree_;
  std::mutex mutex_;
  std::vector<std::weak_ptr<X11Observer>> observers_;
};

}  // namespace quorvel
