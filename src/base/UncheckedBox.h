#pragma once

#include <utility>

#include "base/SpinLock.h"

namespace quorvel {

// A value and the spin lock that guards it, handed between threads (the main thread and a
// time-critical thread). The value is reached only through withLock; the lock is held for the
// function alone, which must not block, call out or take another lock.
template <class T>
class UncheckedBox {
 public:
  UncheckedBox() = default;
  explicit UncheckedBox(T value) : value_(std::move(value)) {}
  UncheckedBox(const UncheckedBox&) = delete;
  UncheckedBox& operator=(const UncheckedBox&) = delete;

  template <class F>
  auto withLock(F&& f) {
    return lock_.withLock([&] { return std::forward<F>(f)(value_); });
  }

 private:
  SpinLock lock_;
  T value_{};
};

}  // namespace quorvel
