#include "base/ManualLoop.h"

#include <cstdio>
#include <cstdlib>

#include "base/Task.h"

namespace quorvel {

class ManualLoop::Queue final : public Executor {
 public:
  Queue(ManualLoop& loop, std::string label, bool isMain) : loop_(loop), label_(std::move(label)), isMain_(isMain) {}
  void post(Job job) override { loop_.enqueue(this, std::move(job)); }
  TimerId postAfter(Duration delay, Job job) override { return loop_.schedule(this, delay, std::move(job)); }
  bool cancel(TimerId id) override { return loop_.cancelTimer(id); }
  bool isCurrent() const override {
    Executor* running = Executor::current();
    if (running == this) return true;
    // The main queue is also current on the driving thread outside any job: tests call the main
    // thread's API directly.
    return isMain_ && running == nullptr && std::this_thread::get_id() == loop_.driver_;
  }
  Clock& clock() const override { return loop_.clock_; }
  const std::string& label() const override { return label_; }
  void trackTask(const std::shared_ptr<TaskStateBase>& state) override { loop_.track(state); }
  void run(Job& job) { runJob(this, job); }

 private:
  ManualLoop& loop_;
  std::string label_;
  bool isMain_;
};

ManualLoop::ManualLoop()
    : driver_(std::this_thread::get_id()),
      main_(std::make_shared<Queue>(*this, "main", true)),
      pool_(std::make_shared<Queue>(*this, "pool", false)) {}

ManualLoop::~ManualLoop() {
  // Drop pending work first (its jobs may hold coroutine handles), then destroy the frames of tasks
  // that are still suspended, so that a test ending mid-task leaks nothing.
  std::deque<Ready> ready;
  std::map<TimerId, Timer> timers;
  {
    std::lock_guard lock(mutex_);
    ready.swap(ready_);
    timers.swap(timers_);
  }
  ready.clear();
  timers.clear();
  std::vector<std::weak_ptr<TaskStateBase>> tasks;
  {
    std::lock_guard lock(mutex_);
    tasks.swap(tasks_);
  }
  for (auto& weak : tasks) {
    if (auto state = weak.lock()) state->destroyIfSuspended();
  }
}

Executor& ManualLoop::main() { return *main_; }

Executor& ManualLoop::pool() { return *pool_; }

std::shared_ptr<Executor> ManualLoop::makeSerialQueue(std::string label, QueueQos) {
  auto queue = std::make_shared<Queue>(*this, std::move(label), false);
  std::lock_guard lock(mutex_);
  serialQueues_.push_back(queue);
  return queue;
}

void ManualLoop::enqueue(Queue* queue, Job job) {
  std::lock_guard lock(mutex_);
  ready_.push_back(Ready{queue, std::move(job)});
}

TimerId ManualLoop::schedule(Queue* queue, Duration delay, Job job) {
  std::lock_guard lock(mutex_);
  const uint64_t sequence = nextSequence_++;
  if (delay < Duration::zero()) delay = Duration::zero();
  timers_.emplace(sequence, Timer{clock_.now() + delay, sequence, queue, std::move(job)});
  return sequence;
}

bool ManualLoop::cancelTimer(TimerId id) {
  // The job is destroyed after the lock is released: what it captures may post or cancel in turn.
  Timer removed;
  {
    std::lock_guard lock(mutex_);
    auto it = timers_.find(id);
    if (it == timers_.end()) return false;
    removed = std::move(it->second);
    timers_.erase(it);
  }
  return true;
}

void ManualLoop::track(const std::shared_ptr<TaskStateBase>& state) {
  std::lock_guard lock(mutex_);
  std::erase_if(tasks_, [](const auto& weak) { return weak.expired(); });
  tasks_.push_back(state);
}

size_t ManualLoop::runUntilIdle(size_t limit) {
  size_t count = 0;
  for (;;) {
    Ready next;
    {
      std::lock_guard lock(mutex_);
      if (ready_.empty()) return count;
      next = std::move(ready_.front());
      ready_.pop_front();
    }
    next.queue->run(next.job);
    if (++count >= limit) {
      std::fprintf(stderr, "ManualLoop: more than %zu jobs without going idle\n", limit);
      std::abort();
    }
  }
}

bool ManualLoop::hasTimerBefore(Instant end) const {
  std::lock_guard lock(mutex_);
  for (const auto& [id, timer] : timers_) {
    if (timer.due <= end) return true;
  }
  return false;
}

size_t ManualLoop::pendingTimers() const {
  std::lock_guard lock(mutex_);
  return timers_.size();
}

bool ManualLoop::advanceToNextTimer() {
  runUntilIdle();
  Timer timer;
  {
    std::lock_guard lock(mutex_);
    if (timers_.empty()) return false;
    auto earliest = timers_.begin();
    for (auto it = timers_.begin(); it != timers_.end(); ++it) {
      if (it->second.due < earliest->second.due) earliest = it;
    }
    timer = std::move(earliest->second);
    timers_.erase(earliest);
  }
  clock_.setNow(timer.due);
  timer.queue->run(timer.job);
  runUntilIdle();
  return true;
}

void ManualLoop::advance(Duration d) {
  const Instant end = clock_.now() + d;
  runUntilIdle();
  while (hasTimerBefore(end)) advanceToNextTimer();
  clock_.setNow(end);
  runUntilIdle();
}

}  // namespace quorvel
