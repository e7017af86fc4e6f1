#include "pictures/IconSweepGate.h"

#include <cassert>
#include <chrono>

#include "pictures/IconCache.h"

namespace quorvel {

IconSweepGate::IconSweepGate(Executor& main, IconCache& icons, std::function<bool()> overlayVisible)
    : main_(main), icons_(icons), overlayVisible_(std::move(overlayVisible)) {}

IconSweepGate::~IconSweepGate() {
  if (timer_) main_.cancel(*timer_);
}

void IconSweepGate::hideFinished() {
  assert(main_.isCurrent() && "IconSweepGate: main queue only");
  pending_ = true;
  if (timer_) main_.cancel(*timer_);
  timer_ = main_.postAfter(std::chrono::seconds(1), [this] { fire(); });
}

void IconSweepGate::fire() {
  timer_.reset();
  if (pending_ && !(overlayVisible_ && overlayVisible_())) {
    pending_ = false;
    icons_.sweep(icons_.runningRequests());
    return;
  }
  log_.debug("Icon sweep deferred: the switcher is on screen again");
}

}  // namespace quorvel
