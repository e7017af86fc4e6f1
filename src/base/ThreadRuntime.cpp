#include "base/ThreadRuntime.h"

#include <chrono>
#include <condition_variable>
#include <optional>
#include <thread>

#include "base/JobSchedule.h"
#include "base/Logger.h"
#include "base/SystemClock.h"
#include "base/Task.h"

namespace quorvel {

// The main queue: its jobs run only inside runMain / runMainUntil on the thread that made it.
class ThreadRuntime::MainQueue final : public Executor {
 public:
  explicit MainQueue(Clock& clock) : clock_(clock), owner_(std::this_thread::get_id()) {}

  ~MainQueue() override {
    std::vector<Job> dropped;
    std::vector<std::weak_ptr<TaskStateBase>> tasks;
    {
      std::lock_guard lock(mutex_);
      closed_ = true;
      dropped = schedule_.takeAll();
      tasks.swap(tasks_);
    }
    dropped.clear();
    for (auto& weak : tasks) {
      if (auto state = weak.lock()) state->destroyIfSuspended();
    }
  }

  void post(Job job) override {
    std::lock_guard lock(mutex_);
    if (closed_) return;
    schedule_.post(std::move(job));
    wake_.notify_all();
  }

  TimerId postAfter(Duration delay, Job job) override {
    if (delay < Duration::zero()) delay = Duration::zero();
    const Instant due = clock_.now() + delay;
    std::lock_guard lock(mutex_);
    if (closed_) return 0;
    TimerId id = schedule_.schedule(due, std::move(job));
    wake_.notify_all();
    return id;
  }

  bool cancel(TimerId id) override {
    std::optional<Job> removed;
    {
      std::lock_guard lock(mutex_);
      removed = schedule_.cancel(id);
    }
    return removed.has_value();
  }

  bool isCurrent() const override { return std::this_thread::get_id() == owner_; }
  Clock& clock() const override { return clock_; }
  const std::string& label() const override { return label_; }

  void trackTask(const std::shared_ptr<TaskStateBase>& state) override {
    std::lock_guard lock(mutex_);
    std::erase_if(tasks_, [](const auto& weak) { return weak.expired(); });
    tasks_.push_back(state);
  }

  void quit() {
    std::lock_guard lock(mutex_);
    quit_ = true;
    wake_.notify_all();
  }

  // Runs jobs until `predicate` holds, `deadline` (if any) passes or quit() is called.
  bool run(const std::function<bool()>& predicate, std::optional<Instant> deadline) {
    for (;;) {
      if (predicate && predicate()) return true;
      std::optional<Job> job;
      {
        std::unique_lock lock(mutex_);
        if (quit_) {
          quit_ = false;
          break;
        }
        const Instant now = clock_.now();
        schedule_.promoteDue(now);
        job = schedule_.takeReady();
        if (!job) {
          if (deadline && now >= *deadline) break;
          std::optional<Instant> wakeAt = schedule_.nextDue();
          if (deadline && (!wakeAt || *deadline < *wakeAt)) wakeAt = deadline;
          if (wakeAt) {
            Duration remaining = *wakeAt - now;
            wake_.wait_until(lock, std::chrono::steady_clock::now() + remaining);
          } else {
            wake_.wait(lock);
          }
          continue;
        }
      }
      runJob(this, *job);
    }
    return predicate && predicate();
  }

 private:
  Clock& clock_;
  const std::thread::id owner_;
  const std::string label_ = "main";
  std::mutex mutex_;
  std::condition_variable wake_;
  JobSchedule schedule_;
  bool quit_ = false;
  bool closed_ = false;
  std::vector<std::weak_ptr<TaskStateBase>> tasks_;
};

ThreadRuntime::ThreadRuntime()
    : main_(std::make_unique<MainQueue>(SystemClock::shared())), workers_(std::make_unique<WorkerQueues>()) {}

ThreadRuntime::~ThreadRuntime() {
  workers_.reset();
  main_.reset();
}

void ThreadRuntime::shutdownWorkers() { workers_->shutdown(); }

Clock& ThreadRuntime::clock() { return SystemClock::shared(); }

Executor& ThreadRuntime::main() { return *main_; }

Executor& ThreadRuntime::pool() { return workers_->pool(); }

std::shared_ptr<Executor> ThreadRuntime::makeSerialQueue(std::string label, QueueQos qos) {
  return workers_->makeSerialQueue(std::move(label), qos);
}

bool ThreadRuntime::runMainUntil(const std::function<bool()>& predicate, Duration timeout) {
  if (!main_->isCurrent()) {
    Logger("Runtime").fault("runMainUntil called off the main thread");
    return false;
  }
  return main_->run(predicate, SystemClock::shared().now() + timeout);
}

void ThreadRuntime::runMain() {
  if (!main_->isCurrent()) {
    Logger("Runtime").fault("runMain called off the main thread");
    return;
  }
  main_->run(nullptr, std::nullopt);
}

void ThreadRuntime::quitMain() { main_->quit(); }

}  // namespace quorvel
