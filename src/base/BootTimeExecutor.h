#pragma once

#include <mutex>
#include <string>
#include <thread>

#include "base/Executor.h"
#include "base/JobSchedule.h"

namespace quorvel {

// Delayed jobs whose wait counts the time the machine spends suspended: each job is handed to
// `target` once the boot-time clock reaches its due time (promptly after a resume that passed it).
// One thread sleeps on a kernel timer armed for the earliest job, so nothing wakes the process
// while no job falls due. Posted jobs go to `target` at once; the jobs run where target runs them.
//
// Thread-safe. `target` must outlive this executor; jobs not yet due when it is destroyed never run.
class BootTimeExecutor final : public Executor {
 public:
  explicit BootTimeExecutor(Executor& target);
  ~BootTimeExecutor() override;
  BootTimeExecutor(const BootTimeExecutor&) = delete;
  BootTimeExecutor& operator=(const BootTimeExecutor&) = delete;

  void post(Job job) override;
  TimerId postAfter(Duration delay, Job job) override;
  bool cancel(TimerId id) override;
  bool isCurrent() const override;
  Clock& clock() const override;
  const std::string& label() const override;

 private:
  void waitLoop();
  void wake();

  Executor& target_;
  std::mutex mutex_;
  JobSchedule schedule_;
  bool stopping_ = false;
  int timerFd_ = -1;
  int wakeFd_ = -1;
  std::thread waiter_;
};

}  // namespace quorvel
