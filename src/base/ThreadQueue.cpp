#include "base/ThreadQueue.h"

#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <optional>

#include "base/Logger.h"
#include "base/Task.h"
#include "base/ThreadName.h"

namespace quorvel {

namespace {

// Steady-clock deadline for an instant of `clock`.
std::chrono::steady_clock::time_point deadlineFor(const Clock& clock, Instant due) {
  Duration remaining = due - clock.now();
  if (remaining < Duration::zero()) remaining = Duration::zero();
  return std::chrono::steady_clock::now() + remaining;
}

int niceValue(QueueQos qos) {
  switch (qos) {
    case QueueQos::background: return 10;
    case QueueQos::utility: return 4;
    case QueueQos::userInitiated:
    case QueueQos::userInteractive: return 0;
  }
  return 0;
}

}  // namespace

ThreadQueue::ThreadQueue(std::string label, QueueQos qos, Clock& clock, size_t threadCount)
    : label_(std::move(label)), qos_(qos), clock_(clock), threadCount_(threadCount == 0 ? 1 : threadCount) {
  threads_.reserve(threadCount_);
  for (size_t i = 0; i < threadCount_; ++i) threads_.emplace_back([this] { workerLoop(); });
}

ThreadQueue::~ThreadQueue() {
  shutdown();
  std::vector<std::weak_ptr<TaskStateBase>> tasks;
  {
    std::lock_guard lock(mutex_);
    tasks.swap(tasks_);
  }
  for (auto& weak : tasks) {
    if (auto state = weak.lock()) state->destroyIfSuspended();
  }
}

void ThreadQueue::post(Job job) {
  {
    std::lock_guard lock(mutex_);
    if (!closed_) {
      schedule_.post(std::move(job));
      wake_.notify_one();
      return;
    }
  }
  // Closed: the job is dropped here, outside the lock (its captures may post elsewhere).
}

TimerId ThreadQueue::postAfter(Duration delay, Job job) {
  if (delay < Duration::zero()) delay = Duration::zero();
  const Instant due = clock_.now() + delay;
  {
    std::lock_guard lock(mutex_);
    if (!closed_ && !stopping_) {
      TimerId id = schedule_.schedule(due, std::move(job));
      wake_.notify_one();
      return id;
    }
  }
  return 0;
}

bool ThreadQueue::cancel(TimerId id) {
  std::optional<Job> removed;
  {
    std::lock_guard lock(mutex_);
    removed = schedule_.cancel(id);
  }
  return removed.has_value();
}

void ThreadQueue::trackTask(const std::shared_ptr<TaskStateBase>& state) {
  std::lock_guard lock(mutex_);
  std::erase_if(tasks_, [](const auto& weak) { return weak.expired(); });
  tasks_.push_back(state);
}

void ThreadQueue::applyThreadAttributes() const {
  ThreadName::applyToCurrentThread(label_);
  if (int nice = niceValue(qos_); nice != 0) {
    // Lowering a thread's own priority needs no privilege; failure leaves it as it was.
    (void)setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), nice);
  }
}

void ThreadQueue::workerLoop() {
  applyThreadAttributes();
  std::unique_lock lock(mutex_);
  for (;;) {
    if (schedule_.promoteDue(clock_.now()) > 1) wake_.notify_all();
    if (std::optional<Job> job = schedule_.takeReady()) {
      lock.unlock();
      runJob(this, *job);
      job.reset();
      lock.lock();
      continue;
    }
    if (stopping_) return;
    if (std::optional<Instant> due = schedule_.nextDue()) {
      wake_.wait_until(lock, deadlineFor(clock_, *due));
    } else {
      wake_.wait(lock);
    }
  }
}

void ThreadQueue::shutdown() {
  std::lock_guard shutdownLock(shutdownMutex_);
  {
    std::lock_guard lock(mutex_);
    if (closed_) return;
    stopping_ = true;
  }
  wake_.notify_all();
  for (auto& thread : threads_) {
    if (thread.get_id() == std::this_thread::get_id()) {
      Logger("Runtime").fault("Queue %{public}s shut down from its own thread", label_);
      thread.detach();
    } else if (thread.joinable()) {
      thread.join();
    }
  }
  threads_.clear();
  std::vector<Job> dropped;
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
    dropped = schedule_.takeAll();
  }
}

}  // namespace quorvel
