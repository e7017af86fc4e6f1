#pragma once

#include <optional>

#include "scene/SceneMath.h"
#include "scene/SceneProbe.h"

namespace quorvel {

// Which card lies under a point of the overlay: every live card is projected exactly as the
// renderer draws it (same camera rig, same pose pass), cards faded out beyond the draw reach or
// behind their pile's drawn ranks are skipped, and among the cards whose quad holds the point the
// nearest to the camera wins (the earlier on a tie). Main thread: it reads a probe copied out under
// the scene lock. A pure function.
class CardPicking {
 public:
  // `point` and the viewport in view points with y up. None for a viewport without area or a
  // scene without cards.
  static std::optional<int> cardAtPoint(const SceneProbe& probe, Float2 point, float width, float height,
                                        double focus, float reformBlend);
};

}  // namespace quorvel
