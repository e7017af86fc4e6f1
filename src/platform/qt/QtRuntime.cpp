#include "platform/qt/QtRuntime.h"

#include "base/SystemClock.h"
#include "platform/qt/QtMainQueue.h"

namespace quorvel {

QtRuntime::QtRuntime()
    : main_(std::make_unique<QtMainQueue>(SystemClock::shared())),
      pool_(std::make_unique<ThreadQueue>("quorvel.pool", QueueQos::userInitiated, SystemClock::shared(),
                                          kPoolThreads)) {}

QtRuntime::~QtRuntime() {
  shutdownWorkers();
  pool_.reset();
  main_.reset();
}

void QtRuntime::shutdownWorkers() {
  // Stop every thread before any task frame is destroyed, so that no job can resume one.
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
  for (auto& queue : serial) queue->shutdown();
}

Clock& QtRuntime::clock() { return SystemClock::shared(); }

Executor& QtRuntime::main() { return *main_; }

Executor& QtRuntime::pool() { return *pool_; }

std::shared_ptr<Executor> QtRuntime::makeSerialQueue(std::string label, QueueQos qos) {
  auto queue = std::make_shared<ThreadQueue>(std::move(label), qos, SystemClock::shared(), 1);
  std::lock_guard lock(mutex_);
  std::erase_if(serialQueues_, [](const auto& weak) { return weak.expired(); });
  serialQueues_.push_back(queue);
  return queue;
}

}  // namespace quorvel
