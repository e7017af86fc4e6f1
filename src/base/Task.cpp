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
  {
    std::lock_guard lock(mutex_);
    if (!cancelled_.load(std::memory_order_acquire)) {
      cancelHook_ = std::move(hook);
      return;
    }
  }
  // Cancelled before the hook was in place: cancel() found none to run, so run it now.
  hook();
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
  // Once the cancel hook is in place another thread may resume the task and end its frame, so
  // everything used after that point is copied out of the frame first.
  std::shared_ptr<TaskContext> ownContext = context;
  std::weak_ptr<TaskContext> weakContext = context;
  Executor& executor = ownContext->executor();
  const Duration wait = delay;
  // Exactly one of the timer and the cancellation resumes the task.
  auto fired = std::make_shared<std::atomic<bool>>(false);
  auto timerId = std::make_shared<std::atomic<TimerId>>(0);
  bool* completedFlag = &completed;
  ownContext->setCancelHook([fired, timerId, &executor, h, completedFlag] {
    if (fired->exchange(true)) return;
    executor.cancel(timerId->load());
    *completedFlag = false;
    executor.post([h] { h.resume(); });
  });
  if (fired->load()) return true;  // cancelled meanwhile: the hook has resumed the task
  const TimerId id = executor.postAfter(wait, [fired, h, weakContext] {
    if (fired->exchange(true)) return;
    if (auto strong = weakContext.lock()) strong->clearCancelHook();
    h.resume();
  });
  timerId->store(id);
  // A cancellation that ran before the id was stored could not withdraw the timer.
  if (fired->load()) executor.cancel(id);
  return true;
}

}  // namespace quorvel
