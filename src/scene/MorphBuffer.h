#pragma once

#include <vector>

#include "scene/SceneTypes.h"

namespace quorvel {

// The per-card samples of one frame. The card renderer owns one and hands it to every scene step,
// which refills it under the scene lock (resizing it only when the card count changes); the draw
// reads it after the lock is released. Only the render thread touches it.
struct MorphBuffer {
  std::vector<MorphSample> values;
};

}  // namespace quorvel
