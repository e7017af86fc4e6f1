#pragma once

#include <memory>

namespace quorvel {

class HotkeyManager;
class SwitcherOverlay;
class TrackpadGestureMonitor;

// The long-lived services of the program, built once, in their fixed order, by whoever makes this
// object (the program's composition root, or a test's recording fake), and started by the
// application delegate one step at a time. Building starts nothing: no task, thread, observer, tap
// or window.
//
// Threads: main queue only.
class AppServices {
 public:
  virtual ~AppServices() = default;

  virtual std::shared_ptr<HotkeyManager> hotkey() = 0;
  virtual std::shared_ptr<TrackpadGestureMonitor> gestures() = 0;
  virtual std::shared_ptr<SwitcherOverlay> overlay() = 0;

  // ---- Start-up steps, in the order the delegate runs them ----
  // The window registry's observers and refresh loop.
  virtual void startRegistry() = 0;
  // The icons of the running applications, ahead of the first summon.
  virtual void prewarmIcons() = 0;
  // A background task that deletes the database copies an earlier run left behind.
  virtual void removeSiteIconCopies() = 0;
  virtual void prewarmStatusBadges() = 0;
  virtual void prewarmActionBadges() = 0;
  // Starts the shortcut tap (after the delegate has set its closures).
  virtual void startHotkey() = 0;
  // Starts the trackpad monitor (after the delegate has set its closure).
  virtual void startGestures() = 0;
};

}  // namespace quorvel
