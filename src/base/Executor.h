#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "base/Clock.h"

namespace quorvel {

class TaskStateBase;

using Job = std::function<void()>;
using TimerId = uint64_t;

// Quality of service of a queue's thread, as the system names them.
enum class QueueQos { background, utility, userInitiated, userInteractive };

// A place where work runs: the main queue, a serial queue, or the worker pool. Jobs posted to one
// executor run in the order they were posted; delayed jobs run when the executor's clock reaches
// their due time. Posting and cancelling are safe from any thread.
class Executor {
 public:
  virtual ~Executor() = default;
  virtual void post(Job job) = 0;
  // Runs `job` once `delay` has passed on clock(); returns an id for cancel().
  virtual TimerId postAfter(Duration delay, Job job) = 0;
  // Cancels a delayed job; true when it had not run yet (it never will).
  virtual bool cancel(TimerId id) = 0;
  // True while the calling thread is running this executor's work (for the main queue: while on
  // the main thread).
  virtual bool isCurrent() const = 0;
  virtual Clock& clock() const = 0;
  virtual const std::string& label() const = 0;
  // Tasks started on this executor are reported here so that a test loop can tear down tasks that
  // are still suspended when it ends. The default keeps nothing.
  virtual void trackTask(const std::shared_ptr<TaskStateBase>&) {}

  // The executor whose job the calling thread is running, or null.
  static Executor* current();

 protected:
  // Runs one job with current() set to `self`.
  static void runJob(Executor* self, Job& job);
};

// The executors and the clock one process (or one test) runs on.
class Runtime {
 public:
  virtual ~Runtime() = default;
  virtual Clock& clock() = 0;
  virtual Executor& main() = 0;
  // The shared pool that unstructured tasks start on.
  virtual Executor& pool() = 0;
  // A new serial queue with its own label; its jobs run one at a time, in order.
  virtual std::shared_ptr<Executor> makeSerialQueue(std::string label, QueueQos qos) = 0;
  bool isMainThread() { return main().isCurrent(); }
};

}  // namespace quorvel
