#include "overlay/AxisClaim.h"

#include <cmath>

namespace quorvel {

std::optional<std::pair<GestureAxis, double>> AxisClaim::feed(double dx, double dy) {
  if (!std::isfinite(dx) || !std::isfinite(dy)) return std::nullopt;
  if (axis) return std::pair{*axis, *axis == GestureAxis::sideways ? dx : dy};
  sumX += dx;
  sumY += dy;
  if (lockTravel > 0 && std::hypot(sumX, sumY) < lockTravel) return std::nullopt;
  axis = std::fabs(sumY) > std::fabs(sumX) ? GestureAxis::upAndDown : GestureAxis::sideways;
  return std::pair{*axis, *axis == GestureAxis::sideways ? sumX : sumY};
}

}  // namespace quorvel
