#include "base/BootTimeExecutor.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <vector>

#include "base/BootTimeClock.h"

namespace quorvel {

BootTimeExecutor::BootTimeExecutor(Executor& target) : target_(target) {
  timerFd_ = ::timerfd_create(CLOCK_BOOTTIME, TFD_NONBLOCK | TFD_CLOEXEC);
  wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  waiter_ = std::thread([this] { waitLoop(); });
}

BootTimeExecutor::~BootTimeExecutor() {
  std::vector<Job> dropped;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    dropped = schedule_.takeAll();
  }
  wake();
  if (waiter_.joinable()) waiter_.join();
  dropped.clear();
  if (timerFd_ >= 0) ::close(timerFd_);
  if (wakeFd_ >= 0) ::close(wakeFd_);
}

void BootTimeExecutor::post(Job job) { target_.post(std::move(job)); }

TimerId BootTimeExecutor::postAfter(Duration delay, Job job) {
  if (delay < Duration::zero()) delay = Duration::zero();
  TimerId id = 0;
  {
    std::lock_guard lock(mutex_);
    if (stopping_) return 0;
    id = schedule_.schedule(clock().now() + delay, std::move(job));
  }
  wake();  // the waiter arms the timer for the new earliest job
  return id;
}

bool BootTimeExecutor::cancel(TimerId id) {
  std::optional<Job> removed;
  {
    std::lock_guard lock(mutex_);
    removed = schedule_.cancel(id);
  }
  return removed.has_value();
}

bool BootTimeExecutor::isCurrent() const { return target_.isCurrent(); }

Clock& BootTimeExecutor::clock() const { return BootTimeClock::shared(); }

const std::string& BootTimeExecutor::label() const { return target_.label(); }

void BootTimeExecutor::wake() {
  if (wakeFd_ < 0) return;
  const uint64_t one = 1;
  [[maybe_unused]] auto written = ::write(wakeFd_, &one, sizeof one);
}

void BootTimeExecutor::waitLoop() {
  pthread_setname_np(pthread_self(), "BootTimeTimers");
  for (;;) {
    std::vector<Job> due;
    std::optional<Instant> next;
    {
      std::lock_guard lock(mutex_);
      if (stopping_) return;
      schedule_.promoteDue(clock().now());
      while (auto job = schedule_.takeReady()) due.push_back(std::move(*job));
      next = schedule_.nextDue();
    }
    for (auto& job : due) target_.post(std::move(job));
    due.clear();

    int timeoutMs = -1;
    if (next) {
      if (timerFd_ >= 0) {
        // Absolute on CLOCK_BOOTTIME, the clock that now() reads; 0 would disarm, so at least 1 ns.
        const auto ns = std::max<int64_t>(1, std::chrono::duration_cast<std::chrono::nanoseconds>(*next).count());
        itimerspec spec{};
        spec.it_value.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
        spec.it_value.tv_nsec = static_cast<long>(ns % 1'000'000'000);
        ::timerfd_settime(timerFd_, TFD_TIMER_ABSTIME, &spec, nullptr);
      } else {
        // No kernel timer: a plain wait, which a suspend lengthens.
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(*next - clock().now());
        timeoutMs = static_cast<int>(std::clamp<int64_t>(left.count(), 0, 24LL * 3600 * 1000));
      }
    } else if (timerFd_ >= 0) {
      const itimerspec off{};
      ::timerfd_settime(timerFd_, TFD_TIMER_ABSTIME, &off, nullptr);
    }
    pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {timerFd_, POLLIN, 0}};
    if (::poll(fds, timerFd_ >= 0 ? 2 : 1, timeoutMs) < 0 && errno != EINTR) return;
    uint64_t count = 0;
    if (fds[0].revents & POLLIN) {
      [[maybe_unused]] auto got = ::read(wakeFd_, &count, sizeof count);
    }
    if (timerFd_ >= 0 && (fds[1].revents & POLLIN)) {
      [[maybe_unused]] auto got = ::read(timerFd_, &count, sizeof count);
    }
  }
}

}  // namespace quorvel
