#include "platform/qt/QtRuntime.h"

#include "base/SystemClock.h"
#include "platform/qt/QtMainQueue.h"

namespace quorvel {

QtRuntime::QtRuntime()
    : main_(std::make_unique<QtMainQueue>(SystemClock::shared())), workers_(std::make_unique<WorkerQueues>()) {}

QtRuntime::~QtRuntime() {
  workers_.reset();
  main_.reset();
}

void QtRuntime::shutdownWorkers() { workers_->shutdown(); }

Clock& QtRuntime::clock() { return SystemClock::shared(); }

Executor& QtRuntime::main() { return *main_; }

Executor& QtRuntime::pool() { return workers_->pool(); }

std::shared_ptr<Executor> QtRuntime::makeSerialQueue(std::string label, QueueQos qos) {
  return workers_->makeSerialQueue(std::move(label), qos);
}

}  // namespace quorvel
