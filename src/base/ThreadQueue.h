#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/Executor.h"
#include "base/JobSchedule.h"

namespace quorvel {

// An executor backed by its own threads: one thread makes a serial queue (jobs run one at a time,
// in order), more make a pool. Delayed jobs fall due on `clock`; the threads sleep in real time for
// the delay that clock reports, so the clock should be one that moves by itself.
//
// The threads share the queue's state (its lock, jobs and stop flags) rather than the queue itself,
// so a queue may be shut down or destroyed by one of its own jobs (an owner whose last reference
// goes in a job of its queue): that thread finishes the job and then ends by itself, touching only
// the shared state, which it keeps alive; the work still queued is dropped. A job that destroys the
// queue may be a task's own turn: the frames of the queue's suspended tasks are then ended by that
// thread once the job has returned, never while one of them is still running.
class ThreadQueue final : public Executor {
 public:
  ThreadQueue(std::string label, QueueQos qos, Clock& clock, size_t threadCount = 1);
  // Shuts down, then ends the frames of tasks started here that are still suspended (from one of
  // the queue's own jobs: once that job has returned).
  ~ThreadQueue() override;
  ThreadQueue(const ThreadQueue&) = delete;
  ThreadQueue& operator=(const ThreadQueue&) = delete;

  void post(Job job) override;
  TimerId postAfter(Duration delay, Job job) override;
  bool cancel(TimerId id) override;
  bool isCurrent() const override { return Executor::current() == this; }
  Clock& clock() const override { return state_->clock; }
  const std::string& label() const override { return state_->label; }
  void trackTask(const std::shared_ptr<TaskStateBase>& state) override;

  QueueQos qos() const { return state_->qos; }
  size_t threadCount() const { return threadCount_; }
  // Runs the work that is ready (and what it posts meanwhile), drops delayed jobs that are not
  // due yet, and joins the threads. Later posts are dropped. Safe to call more than once. Called
  // from one of the queue's own jobs, it joins the other threads, drops the work still queued and
  // leaves the calling thread to end by itself once its job returns.
  void shutdown();

 private:
  // What the threads read: it outlives the queue while a thread still runs.
  struct State {
    State(std::string label, QueueQos qos, Clock& clock) : label(std::move(label)), qos(qos), clock(clock) {}
    const std::string label;
    const QueueQos qos;
    Clock& clock;
    std::mutex mutex;
    std::condition_variable wake;
    JobSchedule schedule;
    bool stopping = false;
    // Set once shutdown has dropped what was left; a thread that sees it ends at once.
    bool closed = false;
    // Tasks of a queue destroyed from its own job, ended by that job's thread once the job returns.
    std::vector<std::weak_ptr<TaskStateBase>> orphans;
  };

  static void endSuspended(std::vector<std::weak_ptr<TaskStateBase>> tasks);

  // `self` names the queue to the jobs (Executor::current()); the loop never reads through it.
  static void workerLoop(Executor* self, const std::shared_ptr<State>& state);
  static void applyThreadAttributes(const State& state);

  const std::shared_ptr<State> state_;
  const size_t threadCount_;
  std::vector<std::weak_ptr<TaskStateBase>> tasks_;  // guarded by state_->mutex

  std::mutex shutdownMutex_;
  std::vector<std::thread> threads_;
};

}  // namespace quorvel
