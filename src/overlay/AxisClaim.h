#pragma once

#include <optional>
#include <utility>

namespace quorvel {

// The two axes a scroll or drag gesture can move along: sideways steps the cards, up and down flips
// through a pile.
enum class GestureAxis { sideways, upAndDown };

// Which axis a gesture moves along, decided once per gesture: travel is summed until it reaches
// `lockTravel` points, then the larger component wins (a tie goes sideways) and the whole sum is
// handed on, so no travel before the claim is lost. A plain value.
struct AxisClaim {
  std::optional<GestureAxis> axis;
  double lockTravel = 6;
  double sumX = 0;
  double sumY = 0;

  static AxisClaim reset(double lockTravel) { return AxisClaim{std::nullopt, lockTravel, 0, 0}; }
  // Feeds one event's delta; the claimed axis and the delta along it, or none while unclaimed (and
  // for deltas that are not finite, which change nothing).
  std::optional<std::pair<GestureAxis, double>> feed(double dx, double dy);

  bool operator==(const AxisClaim&) const = default;
};

// The tuning of pointer and scroll gestures: points of travel per step of the scene, the flick
// projection, the extra divisor of vertical flips and the travel that claims an axis.
struct GestureTuning {
  double pointsPerUnit = 200;
  double flickProjection = 0.25;
  double flipScale = 1.0;
  double axisLockTravel = 6.0;
  bool operator==(const GestureTuning&) const = default;
};

}  // namespace quorvel
