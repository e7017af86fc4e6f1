#include "base/JobSchedule.h"

namespace quorvel {

void JobSchedule::post(Job job) { ready_.push_back(std::move(job)); }

TimerId JobSchedule::schedule(Instant due, Job job) {
  const TimerId id = nextId_++;
  timers_.emplace(id, std::move(job));
  heap_.push(Entry{due, id});
  // Cancelled entries stay in the heap until they surface; rebuild when they pile up.
  if (heap_.size() > 64 && heap_.size() > 2 * timers_.size()) {
    std::vector<Entry> live;
    live.reserve(timers_.size());
    while (!heap_.empty()) {
      if (timers_.count(heap_.top().id)) live.push_back(heap_.top());
      heap_.pop();
    }
    heap_ = decltype(heap_)(std::greater<>(), std::move(live));
  }
  return id;
}

std::optional<Job> JobSchedule::cancel(TimerId id) {
  auto it = timers_.find(id);
  if (it == timers_.end()) return std::nullopt;
  Job job = std::move(it->second);
  timers_.erase(it);
  return job;
}

void JobSchedule::dropCancelledTop() {
  while (!heap_.empty() && !timers_.count(heap_.top().id)) heap_.pop();
}

size_t JobSchedule::promoteDue(Instant now) {
  size_t moved = 0;
  for (;;) {
    dropCancelledTop();
    if (heap_.empty() || heap_.top().due > now) return moved;
    auto it = timers_.find(heap_.top().id);
    heap_.pop();
    ready_.push_back(std::move(it->second));
    timers_.erase(it);
    ++moved;
  }
}

std::optional<Job> JobSchedule::takeReady() {
  if (ready_.empty()) return std::nullopt;
  Job job = std::move(ready_.front());
  ready_.pop_front();
  return job;
}

std::optional<Instant> JobSchedule::nextDue() {
  dropCancelledTop();
  if (heap_.empty()) return std::nullopt;
  return heap_.top().due;
}

std::vector<Job> JobSchedule::takeAll() {
  std::vector<Job> all;
  all.reserve(ready_.size() + timers_.size());
  for (auto& job : ready_) all.push_back(std::move(job));
  ready_.clear();
  while (!heap_.empty()) {
    if (auto it = timers_.find(heap_.top().id); it != timers_.end()) all.push_back(std::move(it->second));
    heap_.pop();
  }
  timers_.clear();
  return all;
}

}  // namespace quorvel
