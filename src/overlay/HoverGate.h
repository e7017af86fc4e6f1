#pragma once

#include <optional>

#include "base/Geometry.h"

namespace quorvel {

// Keeps a resting or sweeping pointer from selecting cards: a pointer move selects only after it
// has travelled `travel` points from the anchor (where it was when tracking was reset, then where
// the last hover selection happened) and while it moves at no more than 800 points a second.
struct HoverGate {
  struct Sample {
    double x = 0, y = 0, time = 0;
    bool operator==(const Sample&) const = default;
  };

  static constexpr double kMaxSpeed = 800;

  std::optional<Point> anchor;
  double travel = 12;
  std::optional<Sample> previous;

  static HoverGate reset(std::optional<Point> anchor) { return HoverGate{anchor, 12, std::nullopt}; }
  // Records the move and tells whether it may select.
  bool admit(double x, double y, double time);

  bool operator==(const HoverGate&) const = default;
};

}  // namespace quorvel
