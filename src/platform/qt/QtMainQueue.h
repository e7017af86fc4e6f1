#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/Executor.h"
#include "base/JobSchedule.h"

class QObject;
class QTimer;

namespace quorvel {

// The main queue on Qt's event loop: jobs posted from any thread run on the thread that made the
// queue (the thread of the QCoreApplication), between the loop's own events, in the order they
// were posted. Delayed jobs fall due on `clock`; one single-shot timer of the loop wakes it for the
// earliest.
//
// Made on the main thread after the application object; destroyed there before it. Destroying the
// queue drops the work still pending and ends tasks still suspended on it.
class QtMainQueue final : public Executor {
 public:
  explicit QtMainQueue(Clock& clock);
  ~QtMainQueue() override;
  QtMainQueue(const QtMainQueue&) = delete;
  QtMainQueue& operator=(const QtMainQueue&) = delete;

  void post(Job job) override;
  TimerId postAfter(Duration delay, Job job) override;
  bool cancel(TimerId id) override;
  bool isCurrent() const override { return std::this_thread::get_id() == owner_; }
  Clock& clock() const override { return clock_; }
  const std::string& label() const override { return label_; }
  void trackTask(const std::shared_ptr<TaskStateBase>& state) override;

 private:
  // Asks the loop for one drain turn unless one is already asked for (caller holds mutex_).
  void requestDrainLocked();
  // On the main thread: runs the jobs that are ready (and due), then sets the timer for the next.
  void drain();

  Clock& clock_;
  const std::thread::id owner_;
  const std::string label_ = "main";
  QObject* context_;
  QTimer* timer_;
  std::mutex mutex_;
  JobSchedule schedule_;
  bool drainRequested_ = false;
  bool closed_ = false;
  std::vector<std::weak_ptr<TaskStateBase>> tasks_;
};

}  // namespace quorvel
