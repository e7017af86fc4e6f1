#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/Executor.h"
#include "base/WorkerQueues.h"

namespace quorvel {

// The runtime of the real program (and of tests that need real threads): the system clock, a pool
// of worker threads, serial queues with a thread each, and a main queue that the thread which
// constructed the runtime drives with runMain() / runMainUntil().
class ThreadRuntime final : public Runtime {
 public:
  static constexpr size_t kPoolThreads = WorkerQueues::kPoolThreads;

  ThreadRuntime();
  // Shuts down the serial queues it made and the pool (their ready work runs), drops the main
  // queue's pending work, and ends tasks still suspended on its executors.
  ~ThreadRuntime() override;
  ThreadRuntime(const ThreadRuntime&) = delete;
  ThreadRuntime& operator=(const ThreadRuntime&) = delete;

  Clock& clock() override;
  Executor& main() override;
  Executor& pool() override;
  std::shared_ptr<Executor> makeSerialQueue(std::string label, QueueQos qos) override;
  // Ends the worker threads (the pool and every serial queue) while the main queue stays, as the
  // program's end does: their ready work runs, later posts are dropped.
  void shutdownWorkers();

  // Runs the main queue's jobs and timers on the calling (main) thread until `predicate` holds
  // (checked before and after each job), `timeout` passes or quitMain() is called. Returns the
  // predicate's last value; false at once when called from another thread.
  bool runMainUntil(const std::function<bool()>& predicate, Duration timeout);
  // Runs the main queue until quitMain().
  void runMain();
  // Ends the current (or the next) runMain / runMainUntil; safe from any thread.
  void quitMain();

 private:
  class MainQueue;
  std::unique_ptr<MainQueue> main_;
  std::unique_ptr<WorkerQueues> workers_;
};

}  // namespace quorvel
