#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>

#include "scene/render/DisplayLink.h"

namespace quorvel::testing {

// A display link the test drives: fire() hands one update to the render thread and waits until it
// was handled, send() hands it over without waiting.
class ManualDisplayLink final : public DisplayLink {
 public:
  void run(const std::function<void(const DisplayLinkUpdate&)>& onUpdate) override {
    std::unique_lock lock(mutex_);
    ++runs;
    for (;;) {
      changed_.wait(lock, [&] { return stopped_ || released_ || (!pending_.empty() && !paused_); });
      if (stopped_ || released_) break;
      const DisplayLinkUpdate update = pending_.front();
      pending_.pop_front();
      lock.unlock();
      onUpdate(update);
      lock.lock();
      ++handled_;
      changed_.notify_all();
    }
  }
  void setPaused(bool paused) override {
    std::lock_guard lock(mutex_);
    paused_ = paused;
    changed_.notify_all();
  }
  void setRefreshRate(double rate) override {
    std::lock_guard lock(mutex_);
    refreshRate = rate;
  }
  void stop() override {
    std::lock_guard lock(mutex_);
    stopped_ = true;
    changed_.notify_all();
  }
  // Delivers one update and waits for it (false when the link is paused or stopped).
  bool fire(double t) {
    std::unique_lock lock(mutex_);
    if (paused_ || stopped_) return false;
    const int target = handled_ + static_cast<int>(pending_.size()) + 1;
    pending_.push_back({t});
    changed_.notify_all();
    return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return handled_ >= target; });
  }
  // Delivers one update without waiting for it (false when the link is paused or stopped).
  bool send(double t) {
    std::lock_guard lock(mutex_);
    if (paused_ || stopped_) return false;
    pending_.push_back({t});
    changed_.notify_all();
    return true;
  }
  void release() {
    std::lock_guard lock(mutex_);
    released_ = true;
    changed_.notify_all();
  }
  bool paused() {
    std::lock_guard lock(mutex_);
    return paused_;
  }

  std::atomic<int> runs{0};
  double refreshRate = -1;

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<DisplayLinkUpdate> pending_;
  int handled_ = 0;
  bool paused_ = true;
  bool stopped_ = false;
  bool released_ = false;
};

}  // namespace quorvel::testing
