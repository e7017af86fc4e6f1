#pragma once

#include <atomic>
#include <thread>
#include <utility>

namespace quorvel {

// A small lock for very short critical sections shared with time-critical threads (the event tap,
// the render thread). No fairness between waiters; must be unlocked by the thread that locked it;
// not recursive.
class SpinLock {
 public:
  void lock() {
    for (int spins = 0; flag_.exchange(true, std::memory_order_acquire); ++spins) {
      if (spins > 64) std::this_thread::yield();
    }
  }
  bool tryLock() { return !flag_.exchange(true, std::memory_order_acquire); }
  void unlock() { flag_.store(false, std::memory_order_release); }
  template <class F>
  auto withLock(F&& f) {
    lock();
    struct Unlock {
      SpinLock* l;
      ~Unlock() { l->unlock(); }
    } unlock{this};
    return std::forward<F>(f)();
  }

 private:
  std::atomic<bool> flag_{false};
};

}  // namespace quorvel
