#include "base/WorkerQueues.h"

#include "base/SystemClock.h"

namespace quorvel {

WorkerQueues::WorkerQueues()
    : pool_(std::make_unique<ThreadQueue>("quorvel.pool", QueueQos::userInitiated, SystemClock::shared(),
                                          kPoolThreads)) {}

WorkerQueues::~WorkerQueues() { shutdown(); }

std::shared_ptr<Executor> WorkerQueues::makeSerialQueue(std::string label, QueueQos qos) {
  auto queue = std::make_shared<ThreadQueue>(std::move(label), qos, SystemClock::shared(), 1);
  std::lock_guard lock(mutex_);
  std::erase_if(serialQueues_, [](const auto& weak) { return weak.expired(); });
  serialQueues_.push_back(queue);
  return queue;
}

void WorkerQueues::shutdown() {
  std::vector<std::shared_ptr<ThreadQueue>> serial;
  {
    std::lock_guard lock(mutex_);
    for (auto& weak : serialQueues_) {
      if (auto queue = weak.lock()) serial.push_back(std::move(queue));
    }
    serialQueues_.clear();
  }
  for (auto& queue : serial) queue->shutdown();
  pool_->shutdown();
  // Work the pool ran last may have posted to a serial queue: that queue is shut again.
  for (auto& queue : serial) queue->shutdown();
}

}  // namespace quorvel
