#include "scene/SceneWake.h"

#include "base/SystemClock.h"

namespace quorvel {

SceneWake& SceneWake::shared() {
  static SceneWake wake(SystemClock::shared());
  return wake;
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
