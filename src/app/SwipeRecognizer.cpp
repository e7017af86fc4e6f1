#include "app/SwipeRecognizer.h"

#include <cmath>

namespace quorvel {

std::optional<SwipeMotion> SwipeRecognizer::feed(const std::vector<MultitouchContact>& contacts) {
  std::vector<const MultitouchContact*> touching;
  for (const auto& c : contacts) {
    if (c.isOnSurface) touching.push_back(&c);
  }
  if (touching.empty()) {
    // The only way a touch ends.
    origins.clear();
    isAbandoned = false;
    hasFired = false;
    return std::nullopt;
  }

  // Origins follow the fingers on the surface, even once the touch fired or was abandoned.
  for (auto it = origins.begin(); it != origins.end();) {
    bool present = false;
    for (const auto* c : touching) present = present || c->identifier == it->first;
    it = present ? std::next(it) : origins.erase(it);
  }
  for (const auto* c : touching) origins.try_emplace(c->identifier, c->position);

  if (hasFired || isAbandoned) return std::nullopt;

  int qualifying = 0;
  std::optional<bool> positive;
  for (const auto* c : touching) {
    const Point& origin = origins.at(c->identifier);
    const double dx = c->position.x - origin.x;
    const double dy = c->position.y - origin.y;
    const double along = axis == Axis::vertical ? dy : dx;
    const double across = axis == Axis::vertical ? dx : dy;
    if (std::fabs(along) < minimumTravel) continue;
    if (std::fabs(across) >= abandonTravel) {
      isAbandoned = true;
      return std::nullopt;
    }
    if (straightnessRatio * std::fabs(across) > std::fabs(along)) continue;
    ++qualifying;
    const bool direction = along >= 0;
    if (!positive) {
      positive = direction;
    } else if (*positive != direction) {
      return std::nullopt;  // fingers disagree in this frame; the next is judged afresh
    }
  }
  if (qualifying != requiredFingers) return std::nullopt;
  hasFired = true;
  if (axis == Axis::horizontal) return SwipeMotion::sideways;
  return *positive ? SwipeMotion::up : SwipeMotion::down;
}

}  // namespace quorvel
