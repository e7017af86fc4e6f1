#pragma once

#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "base/Executor.h"
#include "base/VirtualClock.h"

namespace quorvel {

// A deterministic runtime for tests: the main queue, the pool and every serial queue run on the
// thread that drives the loop, in one global order, on a virtual clock. Work posted from other
// threads is accepted and runs at the next drive.
class ManualLoop final : public Runtime {
 public:
  ManualLoop();
  ~ManualLoop() override;
  ManualLoop(const ManualLoop&) = delete;
  ManualLoop& operator=(const ManualLoop&) = delete;

  VirtualClock& clock() override { return clock_; }
  Executor& main() override;
  Executor& pool() override;
  std::shared_ptr<Executor> makeSerialQueue(std::string label, QueueQos qos) override;

  // Runs every job that is ready now, including the ones they post, without moving the clock.
  // Returns the number of jobs run. Stops (and fails loudly) after `limit` jobs to catch livelock.
  size_t runUntilIdle(size_t limit = 1'000'000);
  // Moves the clock forward by `d`, running due delayed jobs in due order (each at its due time)
  // and everything they make ready.
  void advance(Duration d);
  // Advances to the next delayed job and runs it; false when there is none.
  bool advanceToNextTimer();
  // Advances in steps until `predicate` holds or `limit` of virtual time has passed.
  template <class Predicate>
  bool runUntil(Predicate predicate, Duration limit) {
    const Instant end = clock_.now() + limit;
    runUntilIdle();
    while (!predicate()) {
      if (!hasTimerBefore(end)) {
        clock_.setNow(end);
        runUntilIdle();
        return predicate();
      }
      advanceToNextTimer();
    }
    return true;
  }
  size_t pendingTimers() const;
  bool hasTimerBefore(Instant end) const;

 private:
  class Queue;
  friend class Queue;
  struct Ready {
    Queue* queue;
    Job job;
  };
  struct Timer {
    Instant due;
    uint64_t sequence;
    Queue* queue;
    Job job;
  };

  void enqueue(Queue* queue, Job job);
  TimerId schedule(Queue* queue, Duration delay, Job job);
  bool cancelTimer(TimerId id);
  void track(const std::shared_ptr<TaskStateBase>& state);

  VirtualClock clock_;
  mutable std::mutex mutex_;
  std::deque<Ready> ready_;
  std::map<TimerId, Timer> timers_;
  uint64_t nextSequence_ = 1;
  std::thread::id driver_;
  std::shared_ptr<Queue> main_;
  std::shared_ptr<Queue> pool_;
  std::vector<std::shared_ptr<Queue>> serialQueues_;
  std::vector<std::weak_ptr<TaskStateBase>> tasks_;
};

}  // namespace quorvel
