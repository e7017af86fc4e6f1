#pragma once

#include <mutex>
#include <utility>

namespace quorvel {

// A plain, non-recursive lock. Never held across an await, a sink call or a blocking platform call.
class Lock {
 public:
  void lock() { mutex_.lock(); }
  void unlock() { mutex_.unlock(); }
  bool tryLock() { return mutex_.try_lock(); }
  template <class F>
  auto withLock(F&& f) {
    std::lock_guard guard(mutex_);
    return std::forward<F>(f)();
  }

 private:
  std::mutex mutex_;
};

}  // namespace quorvel
