#include "scene/render/FrameClock.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace quorvel {

FrameClock::FrameClock(const Clock& clock, double framesPerSecond, double maximumFramesPerSecond) : clock_(clock) {
  if (maximumFramesPerSecond > 0 && std::isfinite(maximumFramesPerSecond))
    shortestPeriod_ = periodFor(maximumFramesPerSecond);
  period_ = cappedPeriod(framesPerSecond);
}

Duration FrameClock::cappedPeriod(double framesPerSecond) const {
  return std::max(periodFor(framesPerSecond), shortestPeriod_);
}

Duration FrameClock::periodFor(double framesPerSecond) {
  if (!(framesPerSecond > 0) || !std::isfinite(framesPerSecond)) framesPerSecond = 60;
  return fromSeconds(1.0 / framesPerSecond);
}

void FrameClock::setPaused(bool paused) {
  {
    std::lock_guard lock(mutex_);
    if (paused_ && !paused) startNow_ = true;
    if (paused) startNow_ = false;
    paused_ = paused;
  }
  changed_.notify_all();
}

void FrameClock::setRefreshRate(double framesPerSecond) {
  std::lock_guard lock(mutex_);
  period_ = cappedPeriod(framesPerSecond);
}

void FrameClock::stop() {
  {
    std::lock_guard lock(mutex_);
    stopped_ = true;
  }
  changed_.notify_all();
}

void FrameClock::perform(std::function<void()> task) {
  {
    std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
  }
  changed_.notify_all();
}

void FrameClock::run(const std::function<void(const DisplayLinkUpdate&)>& onUpdate) {
  std::unique_lock lock(mutex_);
  while (!stopped_) {
    if (!tasks_.empty()) {
      std::vector<std::function<void()>> tasks = std::exchange(tasks_, {});
      lock.unlock();
      for (auto& task : tasks) task();
      lock.lock();
      continue;
    }
    if (paused_) {
      changed_.wait(lock, [&] { return stopped_ || !paused_ || !tasks_.empty(); });
      continue;
    }
    const Instant now = clock_.now();
    if (std::exchange(startNow_, false)) {
      lock.unlock();
      onUpdate(DisplayLinkUpdate{toSeconds(now)});
      lock.lock();
      continue;
    }
    const Duration period = period_;
    const Instant due = Instant{(now.count() / period.count() + 1) * period.count()};
    // Sleep in real time for what the clock says is left; a pause, a stop or a new rate wakes it,
    // and so does an unpause owed at once (a pause and unpause that both came before this thread
    // woke would otherwise deliver the stale slot first).
    const bool interrupted =
        changed_.wait_for(lock, due - now, [&] { return stopped_ || paused_ || startNow_ || !tasks_.empty(); });
    if (interrupted) continue;
    if (clock_.now() < due) continue;  // woke early
    lock.unlock();
    onUpdate(DisplayLinkUpdate{toSeconds(due)});
    lock.lock();
  }
}

}  // namespace quorvel
