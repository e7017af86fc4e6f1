#pragma once

#include <cstdint>
#include <utility>

#include "base/Clock.h"
#include "base/SpinLock.h"

namespace quorvel {

// The counter every change of a scene bumps, so that a resting display link draws again: the
// navigation mutations, present, stop and the drawable size (inside the scene lock), and the
// texture caches (after releasing their own locks) when a picture or texture arrives. One shared
// instance for the process (`shared()`, on the system clock); tests make their own on a virtual
// clock. Lock order: the scene lock may be held while the wake lock is taken, never the reverse.
class SceneWake {
 public:
  struct State {
    uint64_t revision = 0;
    double stamp = 0;  // media time of the last bump (seconds)
  };

  explicit SceneWake(const Clock& clock) : clock_(clock) {}
  SceneWake(const SceneWake&) = delete;
  SceneWake& operator=(const SceneWake&) = delete;

  static SceneWake& shared();

  // Runs `mutation(storage)` (the caller holds the scene lock), then bumps; hands back the
  // mutation's result.
  template <class Storage, class F>
  decltype(auto) wake(Storage& storage, F&& mutation) {
    struct BumpAfter {
      SceneWake* wake;
      ~BumpAfter() { wake->bump(); }
    } bumpAfter{this};
    return std::forward<F>(mutation)(storage);
  }

  // revision + 1 and stamp = the current media time, under the wake lock.
  void bump();
  State state() const;
  uint64_t revision() const { return state().revision; }

 private:
  const Clock& clock_;
  mutable SpinLock lock_;
  State state_;
};

}  // namespace quorvel
