#pragma once

#include <functional>
#include <optional>

#include "base/Executor.h"
#include "base/Logger.h"

namespace quorvel {

class IconCache;

// The overlay's gate on the icon sweep: after each finished hide a sweep becomes pending and runs
// one second later, on the main queue, unless the switcher is on screen again by then (it is then
// deferred with a debug line, and tried after the next hide). A hide while a sweep waits restarts
// the second. Main queue only; the cache must outlive the gate.
class IconSweepGate {
 public:
  IconSweepGate(Executor& main, IconCache& icons, std::function<bool()> overlayVisible);
  ~IconSweepGate();
  IconSweepGate(const IconSweepGate&) = delete;
  IconSweepGate& operator=(const IconSweepGate&) = delete;

  // The overlay has finished hiding.
  void hideFinished();
  // A sweep is wanted and has not run yet.
  bool pending() const { return pending_; }

 private:
  void fire();

  Executor& main_;
  IconCache& icons_;
  std::function<bool()> overlayVisible_;
  Logger log_{"OverlayController"};
  bool pending_ = false;
  std::optional<TimerId> timer_;
};

}  // namespace quorvel
