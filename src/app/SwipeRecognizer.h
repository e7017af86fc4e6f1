#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "app/SwipeMotion.h"
#include "base/Geometry.h"

namespace quorvel {

// One contact of a trackpad frame, in normalised trackpad units (0 to 1 across; y grows upward).
struct MultitouchContact {
  int32_t identifier = 0;
  Point position;
  bool isOnSurface = false;
  bool operator==(const MultitouchContact&) const = default;
};

// Recognises one swipe of exactly `requiredFingers` fingers along one axis on one trackpad. A touch
// runs from the first frame with a finger on the surface to the first frame with none; within it the
// recogniser fires at most once, and once abandoned (a finger strayed across the axis) stays silent.
// A plain value: the trackpad monitor keeps one per device under its gesture lock.
struct SwipeRecognizer {
  enum class Axis { vertical, horizontal };

  static constexpr double minimumTravel = 0.015;   // along the axis, for a finger to count
  static constexpr double abandonTravel = 0.1;     // across the axis, to abandon the touch
  static constexpr double straightnessRatio = 1.5;  // along must be at least this times across

  int requiredFingers = 3;
  Axis axis = Axis::vertical;
  std::map<int32_t, Point> origins;  // where each finger on the surface was first seen
  bool isAbandoned = false;
  bool hasFired = false;

  // Feeds one frame; a motion when this frame completes a swipe.
  std::optional<SwipeMotion> feed(const std::vector<MultitouchContact>& contacts);
};

}  // namespace quorvel
