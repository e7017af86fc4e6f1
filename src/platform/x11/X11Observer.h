#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "platform/Accessibility.h"

namespace quorvel {

// The Accessibility observer of one process of an X session. The one notification it can carry is
// "AXFocusedWindowChanged" on the process's application element: it fires when the window manager's
// active window (_NET_ACTIVE_WINDOW) becomes a window of that process, with that window's element.
// Other notifications are refused as unsupported.
//
// Deliveries are posted to the executor the observer is scheduled on; those still waiting when it is
// unscheduled, rescheduled or released, or whose registration was removed, are dropped.
class X11Observer final : public AXObserver, public std::enable_shared_from_this<X11Observer> {
 public:
  static constexpr const char* kFocusedWindowChanged = "AXFocusedWindowChanged";

  X11Observer(int32_t pid, Callback callback);

  AXError addNotification(const AXElementRef& element, const std::string& notification, void* context) override;
  AXError removeNotification(const AXElementRef& element, const std::string& notification) override;
  void schedule(Executor& runLoop) override;
  void unschedule() override;

  int32_t pid() const { return pid_; }
  // The active window became `window`, an element of one of this process's windows.
  void focusedWindowChanged(const AXElementRef& window);

 private:
  // A registration: the element (its kind and window) and the notification name.
  using Key = std::pair<std::pair<int, uint32_t>, std::string>;
  static std::optional<Key> keyOf(const AXElementRef& element, const std::string& notification, int32_t pid,
                                  AXError& error);

  const int32_t pid_;
  const Callback callback_;
  std::mutex mutex_;
  std::map<Key, void*> registrations_;
  Executor* executor_ = nullptr;
  uint64_t generation_ = 0;
};

}  // namespace quorvel
