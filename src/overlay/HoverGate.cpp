#include "overlay/HoverGate.h"

#include <cmath>

namespace quorvel {

bool HoverGate::admit(double x, double y, double time) {
  const std::optional<Sample> old = previous;
  previous = Sample{x, y, time};
  if (!anchor) {
    anchor = Point{x, y};
    return false;
  }
  if (std::hypot(x - anchor->x, y - anchor->y) < travel) return false;
  if (!old || !(old->time < time)) return true;
  const double speed = std::hypot(x - old->x, y - old->y) / (time - old->time);
  return speed <= kMaxSpeed;
}

}  // namespace quorvel
