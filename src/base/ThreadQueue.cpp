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
    : state_(std::make_shared<State>(std::move(label), qos, clock)), threadCount_(threadCount == 0 ? 1 : threadCount) {
  threads_.reserve(threadCount_);
  for (size_t i = 0; i < threadCount_; ++i) {
    threads_.emplace_back([self = static_cast<Executor*>(this), state = state_] { workerLoop(self, state); });
  }
}

ThreadQueue::~ThreadQueue() {
  const bool fromOwnJob = isCurrent();
  shutdown();
  std::vector<std::weak_ptr<TaskStateBase>> tasks;
  {
    std::lock_guard lock(state_->mutex);
    tasks.swap(tasks_);
    // The job running now may be the turn of one of these tasks (its frame is on this very call
    // stack): its thread ends them once the job has returned.
    if (fromOwnJob) {
      state_->orphans = std::move(tasks);
      return;
    }
  }
  endSuspended(std::move(tasks));
}

void ThreadQueue::endSuspended(std::vector<std::weak_ptr<TaskStateBase>> tasks) {
  for (auto& weak : tasks) {
    if (auto state = weak.lock()) state->destroyIfSuspended();
  }
}

void ThreadQueue::post(Job job) {
  {
    std::lock_guard lock(state_->mutex);
    if (!state_->closed) {
      state_->schedule.post(std::move(job));
      state_->wake.notify_one();
      return;
    }
  }
  // Closed: the job is dropped here, outside the lock (its captures may post elsewhere).
}

TimerId ThreadQueue::postAfter(Duration delay, Job job) {
  if (delay < Duration::zero()) delay = Duration::zero();
  const Instant due = state_->clock.now() + delay;
  {
    std::lock_guard lock(state_->mutex);
    if (!state_->closed && !state_->stopping) {
      TimerId id = state_->schedule.schedule(due, std::move(job));
      state_->wake.notify_one();
      return id;
    }
  }
  return 0;
}

bool ThreadQueue::cancel(TimerId id) {
  std::optional<Job> removed;
  {
    std::lock_guard lock(state_->mutex);
    removed = state_->schedule.cancel(id);
  }
  return removed.has_value();
}

void ThreadQueue::trackTask(const std::shared_ptr<TaskStateBase>& state) {
  std::lock_guard lock(state_->mutex);
  std::erase_if(tasks_, [](const auto& weak) { return weak.expired(); });
  tasks_.push_back(state);
}

void ThreadQueue::applyThreadAttributes(const State& state) {
  ThreadName::applyToCurrentThread(state.label);
  if (int nice = niceValue(state.qos); nice != 0) {
    // Lowering a thread's own priority needs no privilege; failure leaves it as it was.
    (void)setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), nice);
  }
}

void ThreadQueue::workerLoop(Executor* self, const std::shared_ptr<State>& state) {
  applyThreadAttributes(*state);
  std::unique_lock lock(state->mutex);
  for (;;) {
    // Closed while this thread ran a job: the queue shut down (and may be gone) from that job.
    if (state->closed) return;
    if (state->schedule.promoteDue(state->clock.now()) > 1) state->wake.notify_all();
    if (std::optional<Job> job = state->schedule.takeReady()) {
      lock.unlock();
      runJob(self, *job);
      job.reset();
      lock.lock();
      if (state->closed && !state->orphans.empty()) {
        std::vector<std::weak_ptr<TaskStateBase>> orphans = std::move(state->orphans);
        state->orphans.clear();
        lock.unlock();
        endSuspended(std::move(orphans));
        return;
      }
      continue;
    }
    if (state->stopping) return;
    if (std::optional<Instant> due = state->schedule.nextDue()) {
      state->wake.wait_until(lock, deadlineFor(state->clock, *due));
    } else {
      state->wake.wait(lock);
    }
  }
}

void ThreadQueue::shutdown() {
  std::lock_guard shutdownLock(shutdownMutex_);
  {
    std::lock_guard lock(state_->mutex);
    if (state_->closed) return;
    state_->stopping = true;
  }
  state_->wake.notify_all();
  for (auto& thread : threads_) {
    if (thread.get_id() == std::this_thread::get_id()) {
      // A job of this queue shuts it down: the thread finishes that job, then sees the queue
      // closed and ends by itself.
      Logger("Runtime").notice("Queue %{public}s shut down from its own thread; the work still queued is dropped",
                               state_->label);
      thread.detach();
    } else if (thread.joinable()) {
      thread.join();
    }
  }
  threads_.clear();
  std::vector<Job> dropped;
  {
    std::lock_guard lock(state_->mutex);
    state_->closed = true;
    dropped = state_->schedule.takeAll();
  }
}

}  // namespace quorvel
