#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/Executor.h"
#include "base/WorkerQueues.h"

namespace quorvel {

class QtMainQueue;

// The runtime of the program: the system clock, a pool of worker threads, serial queues with a
// thread each, and the main queue on Qt's event loop (QtMainQueue). Made on the main thread after
// the application object, destroyed there before it.
class QtRuntime final : public Runtime {
 public:
  static constexpr size_t kPoolThreads = WorkerQueues::kPoolThreads;

  QtRuntime();
  // Shuts down the serial queues and the pool (their ready work runs), then drops the main queue's
  // pending work and ends tasks still suspended on its executors.
  ~QtRuntime() override;
  QtRuntime(const QtRuntime&) = delete;
  QtRuntime& operator=(const QtRuntime&) = delete;

  Clock& clock() override;
  Executor& main() override;
  Executor& pool() override;
  std::shared_ptr<Executor> makeSerialQueue(std::string label, QueueQos qos) override;

  // Ends the worker threads (the pool and every serial queue) while the main queue stays: their
  // ready work runs, later posts are dropped. The program calls it before it takes its services
  // down, so that no work of theirs runs while they go.
  void shutdownWorkers();

 private:
  std::unique_ptr<QtMainQueue> main_;
  std::unique_ptr<WorkerQueues> workers_;
};

}  // namespace quorvel
