#include "scene/SceneWake.h"

#include "base/SystemClock.h"

namespace quorvel {

SceneWake& SceneWake::shared() {
  // Never destroyed: picture threads still finishing while the process ends wake it.
  static SceneWake* const wake = new SceneWake(SystemClock::shared());
  return *wake;
}

void SceneWake::bump() {
  const double now = clock_.mediaTime();
  lock_.withLock([&] {
    state_.revision += 1;
    state_.stamp = now;
  });
}

SceneWake::State SceneWake::state() const {
  return lock_.withLock([&] { return state_; });
}

}  // namespace quorvel
