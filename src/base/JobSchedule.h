#pragma once

#include <deque>
#include <optional>
#include <queue>
#include <unordered_map>
#include <vector>

#include "base/Executor.h"

namespace quorvel {

// The pending work of one queue: jobs ready to run, in post order, and delayed jobs ordered by due
// time (equal dues in the order they were scheduled). Not thread-safe: its owner guards it. Jobs
// that are taken out are destroyed by the caller, outside its lock.
class JobSchedule {
 public:
  void post(Job job);
  // Schedules `job` for `due`; ids start at 1 (0 is never an id).
  TimerId schedule(Instant due, Job job);
  // Removes a delayed job that has not been made ready yet (it never will be) and hands it back,
  // so the caller can destroy it outside its lock; none when there was no such job.
  std::optional<Job> cancel(TimerId id);
  // Moves every delayed job due at or before `now` to the end of the ready list, in due order.
  // Returns how many moved.
  size_t promoteDue(Instant now);
  std::optional<Job> takeReady();
  bool hasReady() const { return !ready_.empty(); }
  size_t readyCount() const { return ready_.size(); }
  // The due time of the earliest delayed job still pending.
  std::optional<Instant> nextDue();
  size_t pendingTimers() const { return timers_.size(); }
  // Removes everything pending, ready and delayed.
  std::vector<Job> takeAll();

 private:
  struct Entry {
    Instant due;
    TimerId id;
    bool operator>(const Entry& other) const { return due != other.due ? due > other.due : id > other.id; }
  };
  void dropCancelledTop();

  std::deque<Job> ready_;
  std::priority_queue<Entry, std::vector<Entry>, std::greater<>> heap_;
  std::unordered_map<TimerId, Job> timers_;
  TimerId nextId_ = 1;
};

}  // namespace quorvel
