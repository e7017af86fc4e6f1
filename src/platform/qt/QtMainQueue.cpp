#include "platform/qt/QtMainQueue.h"

#include <QMetaObject>
#include <QObject>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <optional>

#include "base/Task.h"

namespace quorvel {

QtMainQueue::QtMainQueue(Clock& clock)
    : clock_(clock), owner_(std::this_thread::get_id()), context_(new QObject()), timer_(new QTimer(context_)) {
  timer_->setSingleShot(true);
  timer_->setTimerType(Qt::PreciseTimer);
  QObject::connect(timer_, &QTimer::timeout, context_, [this] { drain(); });
}

QtMainQueue::~QtMainQueue() {
  std::vector<Job> dropped;
  std::vector<std::weak_ptr<TaskStateBase>> tasks;
  {
    std::lock_guard lock(mutex_);
    closed_ = true;
    dropped = schedule_.takeAll();
    tasks.swap(tasks_);
  }
  // Deleting the context also drops the drain turns still queued for it.
  delete context_;
  dropped.clear();
  for (auto& weak : tasks) {
    if (auto state = weak.lock()) state->destroyIfSuspended();
  }
}

void QtMainQueue::requestDrainLocked() {
  if (drainRequested_ || closed_) return;
  drainRequested_ = true;
  QMetaObject::invokeMethod(context_, [this] { drain(); }, Qt::QueuedConnection);
}

void QtMainQueue::post(Job job) {
  std::lock_guard lock(mutex_);
  if (closed_) return;
  schedule_.post(std::move(job));
  requestDrainLocked();
}

TimerId QtMainQueue::postAfter(Duration delay, Job job) {
  if (delay < Duration::zero()) delay = Duration::zero();
  const Instant due = clock_.now() + delay;
  std::lock_guard lock(mutex_);
  if (closed_) return 0;
  TimerId id = schedule_.schedule(due, std::move(job));
  // The drain turn sets the timer anew for the earliest due job.
  requestDrainLocked();
  return id;
}

bool QtMainQueue::cancel(TimerId id) {
  std::optional<Job> removed;
  {
    std::lock_guard lock(mutex_);
    removed = schedule_.cancel(id);
  }
  return removed.has_value();
}

void QtMainQueue::trackTask(const std::shared_ptr<TaskStateBase>& state) {
  std::lock_guard lock(mutex_);
  std::erase_if(tasks_, [](const auto& weak) { return weak.expired(); });
  tasks_.push_back(state);
}

void QtMainQueue::drain() {
  // A bounded turn, so that the loop's own events (input, painting) are never starved: the jobs
  // ready when it begins, at most 256. A job posted during the turn (work that goes on by posting
  // its next step) waits for the next one, after the loop's events and the jobs that fell due.
  constexpr size_t kJobsPerTurn = 256;
  size_t turn = 0;
  {
    std::lock_guard lock(mutex_);
    drainRequested_ = false;
    schedule_.promoteDue(clock_.now());
    turn = std::min(kJobsPerTurn, schedule_.readyCount());
  }
  for (size_t ran = 0; ran < turn; ++ran) {
    std::optional<Job> job;
    {
      std::lock_guard lock(mutex_);
      job = schedule_.takeReady();
    }
    if (!job) break;
    runJob(this, *job);
  }
  std::optional<Instant> next;
  {
    std::lock_guard lock(mutex_);
    if (closed_) return;
    schedule_.promoteDue(clock_.now());
    if (schedule_.hasReady()) requestDrainLocked();
    next = schedule_.nextDue();
  }
  if (next) {
    const Duration remaining = std::max(Duration::zero(), *next - clock_.now());
    // Rounded up, so the timer never fires before the job is due.
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(remaining);
    timer_->start(static_cast<int>(std::min<int64_t>(ms.count(), 24LL * 3600 * 1000)));
  } else {
    timer_->stop();
  }
}

}  // namespace quorvel
