#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <type_traits>
#include <utility>

#include "base/Executor.h"
#include "base/Task.h"

namespace quorvel {

// The serial Accessibility queue. Every call that reads or acts on another application's elements
// runs as a job here, so that such calls never run on the main thread, never two at a time, and in
// the order they were asked. The program creates one funnel and hands it to everything that does
// Accessibility work. The queue gives ordering, not mutual exclusion with other threads: state that
// a job shares with other threads stays under its owner's lock.
class AXFunnel {
 public:
  static constexpr const char* kLabel = "net.tarmeq.quorvel.ax";

  explicit AXFunnel(Runtime& runtime);
  AXFunnel(const AXFunnel&) = delete;
  AXFunnel& operator=(const AXFunnel&) = delete;

  Executor& queue() const { return *queue_; }

  // Inside a task: `auto v = co_await funnel.run([&] { ... });` runs one job on the queue and
  // continues the task on its own executor with the result.
  template <class F>
  auto run(F&& fn) {
    return runOn(*queue_, std::forward<F>(fn));
  }

  // For plain threads: runs one job on the queue and blocks until it has run, returning its
  // result. Called from a job of the queue itself, it runs the job at once (waiting would never
  // end). Must not be called from the thread that drives a test loop, which would never run it.
  template <class F>
  auto runBlocking(F&& fn) -> std::invoke_result_t<F&> {
    using R = std::invoke_result_t<F&>;
    if (queue_->isCurrent()) return fn();
    struct Rendezvous {
      std::mutex mutex;
      std::condition_variable done;
      bool finished = false;
      std::optional<std::conditional_t<std::is_void_v<R>, bool, R>> result;
    };
    auto rendezvous = std::make_shared<Rendezvous>();
    queue_->post([rendezvous, &fn] {
      std::optional<std::conditional_t<std::is_void_v<R>, bool, R>> value;
      if constexpr (std::is_void_v<R>) {
        fn();
        value = true;
      } else {
        value.emplace(fn());
      }
      std::lock_guard lock(rendezvous->mutex);
      rendezvous->result = std::move(value);
      rendezvous->finished = true;
      rendezvous->done.notify_all();
    });
    std::unique_lock lock(rendezvous->mutex);
    rendezvous->done.wait(lock, [&] { return rendezvous->finished; });
    if constexpr (!std::is_void_v<R>) return std::move(*rendezvous->result);
  }

 private:
  std::shared_ptr<Executor> queue_;
};

}  // namespace quorvel
