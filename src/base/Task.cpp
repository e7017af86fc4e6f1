#include "base/Task.h"

namespace quorvel {

void TaskContext::cancel() {
  std::function<void()> hook;
  {
    std::lock_guard lock(mutex_);
    if (cancelled_.exchange(true, std::memory_order_acq_rel)) return;
    hook = std::move(cancelHook_);
    cancelHook_ = nullptr;
  }
  if (hook) hook();
}

void TaskContext::setCancelHook(std::function<void()> hook) {
  std::lock_guard lock(mutex_);
  cancelHook_ = std::move(hook);
}

void TaskContext::clearCancelHook() {
  std::lock_guard lock(mutex_);
  cancelHook_ = nullptr;
}

bool TaskStateBase::isDone() const {
  std::lock_guard lock(mutex_);
  return done_;
}

void TaskStateBase::whenDone(std::function<void()> continuation) {
  {
    std::lock_guard lock(mutex_);
    if (!done_) {
      continuations_.push_back(std::move(continuation));
      return;
    }
  }
  continuation();
}

void TaskStateBase::finish() {
  std::vector<std::function<void()>> continuations;
  {
    std::lock_guard lock(mutex_);
    done_ = true;
    continuations.swap(continuations_);
  }
  for (auto& c : continuations) c();
}

void TaskStateBase::destroyIfSuspended() {
  std::coroutine_handle<> frame;
  {
    std::lock_guard lock(mutex_);
    if (done_) return;
    frame = std::exchange(root, nullptr);
    continuations_.clear();
  }
  context->clearCancelHook();
  if (frame) frame.destroy();
}

bool SleepAwaiter::suspend(std::coroutine_handle<> h, const std::shared_ptr<TaskContext>& context) {
  if (context->isCancelled()) {
    completed = false;
    return false;
  }
  Executor& executor = context->executor();
  // Exactly one of the timer and the cancellation resumes the task.
  auto fired = std::make_shared<std::atomic<bool>>(false);
  auto timerId = std::make_shared<std::atomic<TimerId>>(0);
  bool* completedFlag = &completed;
  context->setCancelHook([fired, timerId, &executor, h, completedFlag] {
    if (fired->exchange(true)) return;
    executor.cancel(timerId->load());
    *completedFlag = false;
    executor.post([h] { h.resume(); });
  });
  std::weak_ptr<TaskContext> weakContext = context;
  timerId->store(executor.postAfter(delay, [fired, h, weakContext] {
    if (fired->exchange(true)) return;
    if (auto strong = weakContext.lock()) strong->clearCancelHook();
    h.resume();
  }));
  // Cancelled between the first check and the hook: the hook has run or will run.
  return true;
}

}  // namespace quorvel
