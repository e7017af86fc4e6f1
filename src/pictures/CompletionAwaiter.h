#pragma once

#include <coroutine>
#include <functional>
#include <optional>
#include <utility>

#include "base/Executor.h"
#include "base/Task.h"

namespace quorvel {

// Awaits a platform call that reports through a completion handler: `call` receives the handler,
// which may run on any thread (never inside the call); the task resumes on its own executor with
// the value the handler got. Keep the awaiter in a named variable and await that (a temporary
// awaiter holding a closure is destroyed twice by GCC 12's coroutines):
//
//   CompletionAwaiter<CaptureResult> still{[&](auto done) { capture.captureWindow(id, c, done); }};
//   CaptureResult r = co_await still;
template <class R>
struct CompletionAwaiter {
  std::function<void(std::function<void(R)>)> call;
  std::optional<R> result;

  bool await_ready() const noexcept { return false; }
  template <class P>
  void await_suspend(std::coroutine_handle<P> h) {
    Executor* home = &h.promise().context->executor();
    call([this, home, h](R value) {
      result.emplace(std::move(value));
      home->post([h] { h.resume(); });
    });
  }
  R await_resume() { return std::move(*result); }
};

}  // namespace quorvel
