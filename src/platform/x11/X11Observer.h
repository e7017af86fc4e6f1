#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/ScheduledObserver.h"

namespace quorvel {

class X11Element;

// The Accessibility observer of one process of an X session. The one notification it can carry is
// "AXFocusedWindowChanged" on the process's application element: it fires when the window manager's
// active window (_NET_ACTIVE_WINDOW) becomes a window of that process, with that window's element.
// Other notifications are refused as unsupported.
//
// Deliveries are posted to the executor the observer is scheduled on; those still waiting when it is
// unscheduled, rescheduled or released, or whose registration was removed, are dropped.
class X11Observer final : public ScheduledObserver {
 public:
  static constexpr const char* kFocusedWindowChanged = "AXFocusedWindowChanged";

  X11Observer(int32_t pid, Callback callback);

  AXError addNotification(const AXElementRef& element, const std::string& notification, void* context) override;
  AXError removeNotification(const AXElementRef& element, const std::string& notification) override;

  // The active window became `window`, an element of one of this process's windows.
  void focusedWindowChanged(const AXElementRef& window);

 private:
  // The element a registration is kept under (its kind and window); absent, with `error`, for an
  // element that is not one of this process's.
  std::optional<ElementKey> keyOf(const AXElementRef& element, AXError& error) const;
  static ElementKey keyOf(const X11Element& element);
};

}  // namespace quorvel
