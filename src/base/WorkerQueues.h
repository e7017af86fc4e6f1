#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/Executor.h"
#include "base/ThreadQueue.h"

namespace quorvel {

// The worker threads of a runtime: the pool and the serial queues it made, each with a thread of
// its own, on the system clock. The runtimes own one and add their main queue. Safe from any thread.
class WorkerQueues {
 public:
  static constexpr size_t kPoolThreads = 4;

  WorkerQueues();
  // Shuts everything down (see shutdown()).
  ~WorkerQueues();
  WorkerQueues(const WorkerQueues&) = delete;
  WorkerQueues& operator=(const WorkerQueues&) = delete;

  Executor& pool() { return *pool_; }
  std::shared_ptr<Executor> makeSerialQueue(std::string label, QueueQos qos);

  // Ends every thread before any task frame is destroyed, so that no job can resume one: the ready
  // work of the serial queues and the pool runs, later posts are dropped. Safe to call twice.
  void shutdown();

 private:
  std::unique_ptr<ThreadQueue> pool_;
  std::mutex mutex_;
  std::vector<std::weak_ptr<ThreadQueue>> serialQueues_;
};

}  // namespace quorvel
