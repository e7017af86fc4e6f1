#pragma once

// Asynchronous tasks on executors, as C++20 coroutines.
//
//   Task<int> readCount(...);            // a coroutine: co_return 3;
//   auto handle = spawn(runtime.pool(), readCount(...));   // an unstructured task
//   handle.cancel();
//
// Inside a task:
//   int n = co_await readCount(...);            // runs a child task inline, same context
//   bool slept = co_await sleepFor(2s);        // false when the task was cancelled meanwhile
//   co_await resumeOn(runtime.main());          // continue on another executor
//   auto v = co_await runOn(axQueue, [&] { return readTitle(); });   // one job, then back
//   if (co_await isCancelled()) co_return;
//   co_await handle;                            // waits for another task to finish
//
// Cancellation is cooperative: cancel() marks the task and wakes a sleep early; the task checks
// for it. A coroutine must not be a capturing lambda (its captures die before it runs): write a
// function and pass what it needs by value.

#include <atomic>
#include <coroutine>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

#include "base/Executor.h"

namespace quorvel {

// What one running task (a spawned root and every child it awaits) shares.
class TaskContext {
 public:
  explicit TaskContext(Executor* executor) : executor_(executor) {}
  bool isCancelled() const { return cancelled_.load(std::memory_order_acquire); }
  void cancel();
  Executor& executor() const { return *executor_; }
  void setExecutor(Executor* executor) { executor_ = executor; }
  // The wake-up of the suspension in progress (a sleep), run once on cancellation.
  void setCancelHook(std::function<void()> hook);
  void clearCancelHook();

 private:
  std::atomic<bool> cancelled_{false};
  Executor* executor_;
  std::mutex mutex_;
  std::function<void()> cancelHook_;
};

namespace detail {

struct PromiseBase {
  std::shared_ptr<TaskContext> context;
  std::coroutine_handle<> continuation;

  std::suspend_always initial_suspend() noexcept { return {}; }
  struct FinalAwaiter {
    bool await_ready() noexcept { return false; }
    template <class P>
    std::coroutine_handle<> await_suspend(std::coroutine_handle<P> h) noexcept {
      auto next = h.promise().continuation;
      return next ? next : std::noop_coroutine();
    }
    void await_resume() noexcept {}
  };
  FinalAwaiter final_suspend() noexcept { return {}; }
  void unhandled_exception() noexcept { std::terminate(); }
};

template <class T>
struct Promise;

}  // namespace detail

template <class T = void>
class [[nodiscard]] Task {
 public:
  using promise_type = detail::Promise<T>;
  using Handle = std::coroutine_handle<promise_type>;

  explicit Task(Handle h) : handle_(h) {}
  Task(Task&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  Task& operator=(Task&& other) noexcept {
    if (this != &other) {
      if (handle_) handle_.destroy();
      handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
  }
  Task(const Task&) = delete;
  Task& operator=(const Task&) = delete;
  ~Task() {
    if (handle_) handle_.destroy();
  }

  // Awaiting a task runs it inline in the awaiting task's context.
  struct Awaiter {
    Handle child;
    bool await_ready() const noexcept { return false; }
    template <class P>
    std::coroutine_handle<> await_suspend(std::coroutine_handle<P> parent) noexcept {
      child.promise().context = parent.promise().context;
      child.promise().continuation = parent;
      return child;
    }
    T await_resume() {
      if constexpr (!std::is_void_v<T>) return std::move(*child.promise().value);
    }
  };
  Awaiter operator co_await() && noexcept { return Awaiter{handle_}; }

  Handle release() { return std::exchange(handle_, nullptr); }
  Handle handle() const { return handle_; }

 private:
  Handle handle_;
};

namespace detail {

template <class T>
struct Promise : PromiseBase {
  std::optional<T> value;
  Task<T> get_return_object() { return Task<T>(Task<T>::Handle::from_promise(*this)); }
  template <class U>
  void return_value(U&& v) {
    value.emplace(std::forward<U>(v));
  }
};

template <>
struct Promise<void> : PromiseBase {
  Task<void> get_return_object() { return Task<void>(Task<void>::Handle::from_promise(*this)); }
  void return_void() {}
};

}  // namespace detail

// The part of a spawned task's state that does not depend on its result type.
class TaskStateBase {
 public:
  explicit TaskStateBase(Executor* executor) : context(std::make_shared<TaskContext>(executor)) {}
  virtual ~TaskStateBase() = default;
  bool isDone() const;
  // Runs `continuation` once the task has finished (at once when it has).
  void whenDone(std::function<void()> continuation);
  // Ends a task that is suspended forever (its loop is going away) by destroying its frames.
  void destroyIfSuspended();

  std::shared_ptr<TaskContext> context;
  std::coroutine_handle<> root;  // the spawn wrapper's frame, while it lives

 protected:
  void finish();

 private:
  mutable std::mutex mutex_;
  bool done_ = false;
  std::vector<std::function<void()>> continuations_;
  friend struct RootCoroutine;
  friend class TaskSpawner;
};

template <class T>
class TaskState final : public TaskStateBase {
 public:
  using TaskStateBase::TaskStateBase;
  std::optional<std::conditional_t<std::is_void_v<T>, bool, T>> result;
  void complete() { finish(); }
};

// A handle on a spawned task: cancel it, ask whether it is done, await it.
template <class T = void>
class TaskHandle {
 public:
  TaskHandle() = default;
  explicit TaskHandle(std::shared_ptr<TaskState<T>> state) : state_(std::move(state)) {}
  void cancel() const {
    if (state_) state_->context->cancel();
  }
  bool isCancelled() const { return state_ && state_->context->isCancelled(); }
  bool isDone() const { return !state_ || state_->isDone(); }
  bool valid() const { return state_ != nullptr; }
  explicit operator bool() const { return valid(); }
  // The result once done; none while running, or for a task that ended without a value.
  auto result() const -> decltype(std::declval<TaskState<T>&>().result) {
    if (!state_ || !state_->isDone()) return std::nullopt;
    return state_->result;
  }
  bool operator==(const TaskHandle& other) const { return state_ == other.state_; }

  // Awaiting a handle waits for the task to finish; the awaiting task resumes on its own executor.
  struct Awaiter {
    std::shared_ptr<TaskState<T>> state;
    bool await_ready() const { return !state || state->isDone(); }
    template <class P>
    void await_suspend(std::coroutine_handle<P> h) {
      Executor* home = &h.promise().context->executor();
      state->whenDone([home, h] { home->post([h] { h.resume(); }); });
    }
    auto await_resume() const -> decltype(std::declval<TaskState<T>&>().result) {
      if (!state) return std::nullopt;
      return state->result;
    }
  };
  Awaiter operator co_await() const { return Awaiter{state_}; }

 private:
  std::shared_ptr<TaskState<T>> state_;
};

namespace detail {

// The frame that owns a spawned task: it awaits the task, stores its result and signals waiters.
struct RootCoroutine {
  struct promise_type : PromiseBase {
    RootCoroutine get_return_object() {
      return RootCoroutine{std::coroutine_handle<promise_type>::from_promise(*this)};
    }
    std::suspend_never final_suspend() noexcept { return {}; }
    void return_void() {}
  };
  std::coroutine_handle<promise_type> handle;
};

template <class T>
RootCoroutine runRoot(Task<T> task, std::shared_ptr<TaskState<T>> state) {
  if constexpr (std::is_void_v<T>) {
    co_await std::move(task);
    state->result = true;
  } else {
    state->result.emplace(co_await std::move(task));
  }
  state->root = nullptr;
  state->complete();
}

}  // namespace detail

namespace detail {

// Tracks `task` on `executor` as an unstructured task and starts it: at once when `startHere`
// and the caller is on the executor's thread, else with the executor's next turn.
template <class T>
TaskHandle<T> startRoot(Executor& executor, Task<T> task, bool startHere) {
  auto state = std::make_shared<TaskState<T>>(&executor);
  auto root = runRoot<T>(std::move(task), state);
  root.handle.promise().context = state->context;
  state->root = root.handle;
  executor.trackTask(state);
  if (startHere && executor.isCurrent()) {
    root.handle.resume();
  } else {
    executor.post([h = root.handle] { h.resume(); });
  }
  return TaskHandle<T>(state);
}

}  // namespace detail

// Starts `task` on `executor` as an unstructured task; it begins with the executor's next turn.
template <class T>
TaskHandle<T> spawn(Executor& executor, Task<T> task) {
  return detail::startRoot(executor, std::move(task), false);
}

// As spawn, but called on `executor`'s own thread the task starts at once and runs up to its
// first suspension, before the jobs already queued there (a hand-off that must not wait behind
// them); from any other thread it is posted like spawn.
template <class T>
TaskHandle<T> spawnNow(Executor& executor, Task<T> task) {
  return detail::startRoot(executor, std::move(task), true);
}

// A slot for at most one task: starting a new one cancels the one before.
class TaskSlot {
 public:
  ~TaskSlot() { cancel(); }
  template <class T>
  TaskHandle<T> start(Executor& executor, Task<T> task) {
    cancel();
    auto handle = spawn(executor, std::move(task));
    cancel_ = [handle] { handle.cancel(); };
    isDone_ = [handle] { return handle.isDone(); };
    return handle;
  }
  void cancel() {
    if (cancel_) cancel_();
    cancel_ = nullptr;
    isDone_ = nullptr;
  }
  bool isRunning() const { return isDone_ && !isDone_(); }

 private:
  std::function<void()> cancel_;
  std::function<bool()> isDone_;
};

// ---- Awaitables for use inside tasks ----

// Sleeps on the task's executor clock; resumes early, with false, when the task is cancelled.
struct SleepAwaiter {
  Duration delay;
  bool completed = true;
  bool await_ready() const noexcept { return false; }
  template <class P>
  bool await_suspend(std::coroutine_handle<P> h) {
    return suspend(h, h.promise().context);
  }
  bool await_resume() const noexcept { return completed; }

 private:
  bool suspend(std::coroutine_handle<> h, const std::shared_ptr<TaskContext>& context);
};
inline SleepAwaiter sleepFor(Duration delay) { return SleepAwaiter{delay}; }

// Continues the task on `executor`.
struct ResumeOnAwaiter {
  Executor& target;
  bool await_ready() const noexcept { return false; }
  template <class P>
  void await_suspend(std::coroutine_handle<P> h) {
    h.promise().context->setExecutor(&target);
    target.post([h] { h.resume(); });
  }
  void await_resume() const noexcept {}
};
inline ResumeOnAwaiter resumeOn(Executor& executor) { return ResumeOnAwaiter{executor}; }

// Runs `fn` as one job on `target` and resumes the task on its own executor with the result.
// `fn` must own nothing that needs destroying (capture by reference, or plain values): GCC 12
// destroys the temporary awaiter of `co_await runOn(...)` twice, so a closure that held a shared
// pointer or a string would release it twice.
template <class F>
struct RunOnAwaiter {
  static_assert(std::is_trivially_destructible_v<F>,
                "a job awaited with runOn is destroyed twice by GCC 12: capture by reference");
  using R = std::invoke_result_t<F&>;
  Executor& target;
  F fn;
  std::optional<std::conditional_t<std::is_void_v<R>, bool, R>> result;
  bool await_ready() const noexcept { return false; }
  template <class P>
  void await_suspend(std::coroutine_handle<P> h) {
    Executor* home = &h.promise().context->executor();
    target.post([this, home, h] {
      if constexpr (std::is_void_v<R>) {
        fn();
        result = true;
      } else {
        result.emplace(fn());
      }
      home->post([h] { h.resume(); });
    });
  }
  R await_resume() {
    if constexpr (!std::is_void_v<R>) return std::move(*result);
  }
};
template <class F>
RunOnAwaiter<std::decay_t<F>> runOn(Executor& target, F&& fn) {
  return RunOnAwaiter<std::decay_t<F>>{target, std::forward<F>(fn), std::nullopt};
}

// Reads the task's cancellation flag without suspending.
struct CancelledAwaiter {
  bool value = false;
  bool await_ready() const noexcept { return false; }
  template <class P>
  bool await_suspend(std::coroutine_handle<P> h) noexcept {
    value = h.promise().context->isCancelled();
    return false;
  }
  bool await_resume() const noexcept { return value; }
};
inline CancelledAwaiter isCancelled() { return {}; }

// The executor the task runs on now.
struct CurrentExecutorAwaiter {
  Executor* value = nullptr;
  bool await_ready() const noexcept { return false; }
  template <class P>
  bool await_suspend(std::coroutine_handle<P> h) noexcept {
    value = &h.promise().context->executor();
    return false;
  }
  Executor& await_resume() const noexcept { return *value; }
};
inline CurrentExecutorAwaiter currentExecutor() { return {}; }

}  // namespace quorvel
