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
class ThreadQueue final : public Executor {
 public:
  ThreadQueue(std::string label, QueueQos qos, Clock& clock, size_t threadCount = 1);
  // Shuts down, then ends the frames of tasks started here that are still suspended.
  ~ThreadQueue() override;
  ThreadQueue(const ThreadQueue&) = delete;
  ThreadQueue& operator=(const ThreadQueue&) = delete;

  void post(Job job) override;
  TimerId postAfter(Duration delay, Job job) override;
  bool cancel(TimerId id) override;
  bool isCurrent() const override { return Executor::current() == this; }
  Clock& clock() const override { return clock_; }
  const std::string& label() const override { return label_; }
  void trackTask(const std::shared_ptr<TaskStateBase>& state) override;

  QueueQos qos() const { return qos_; }
  size_t threadCount() const { return threadCount_; }
  // Runs the work that is ready (and what it posts meanwhile), drops delayed jobs that are not
  // due yet, and joins the threads. Later posts are dropped. Safe to call more than once; must not
  // be called from one of the queue's own jobs.
  void shutdown();

 private:
  void workerLoop();
  void applyThreadAttributes() const;

  const std::string label_;
  const QueueQos qos_;
  Clock& clock_;
  const size_t threadCount_;

  std::mutex mutex_;
  std::condition_variable wake_;
  JobSchedule schedule_;
  bool stopping_ = false;
  bool closed_ = false;
  std::vector<std::weak_ptr<TaskStateBase>> tasks_;

  std::mutex shutdownMutex_;
  std::vector<std::thread> threads_;
};

}  // namespace quorvel
