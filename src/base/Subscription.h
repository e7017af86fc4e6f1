#pragma once

#include <functional>
#include <utility>

namespace quorvel {

// A registration with an observer list, as a handle: destroying it, or calling cancel(), removes
// the registration, and once that returns the observer is never called again (a call already
// running on another thread is waited for; one running on this thread finishes after). Move-only;
// a default-made or moved-from handle holds nothing. Not safe to use from two threads at once.
class [[nodiscard]] Subscription {
 public:
  Subscription() = default;
  explicit Subscription(std::function<void()> cancel) : cancel_(std::move(cancel)) {}
  Subscription(Subscription&& other) noexcept : cancel_(std::exchange(other.cancel_, nullptr)) {}
  Subscription& operator=(Subscription&& other) noexcept {
    if (this != &other) {
      cancel();
      cancel_ = std::exchange(other.cancel_, nullptr);
    }
    return *this;
  }
  Subscription(const Subscription&) = delete;
  Subscription& operator=(const Subscription&) = delete;
  ~Subscription() { cancel(); }

  void cancel() {
    if (auto cancel = std::exchange(cancel_, nullptr)) cancel();
  }
  bool isActive() const { return static_cast<bool>(cancel_); }

 private:
  std::function<void()> cancel_;
};

}  // namespace quorvel
