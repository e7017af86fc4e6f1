#include "scene/CylinderLayout.h"

#include <algorithm>
#include <cmath>

namespace quorvel {
namespace {
constexpr float kTwoPi = 6.283185f;
}

std::optional<CylinderLayout::Arrows> CylinderLayout::arrowsFromRawValue(std::string_view raw) {
  if (raw == "order") return Arrows::order;
  if (raw == "wall") return Arrows::wall;
  return std::nullopt;
}

float CylinderLayout::angle(int index, int count, int cards, double focus, int& rows) const {
  rows = (cards > 6 && count >= 2) ? 2 : 1;
  const int places = count >= 2 ? count : 1;
  const double n = places;
  const double d = index - focus;
  double w = d - n * std::floor((d + n / 2) / n);
  if (!std::isfinite(w)) w = 0;
  const float step =
      std::min(kTwoPi / static_cast<float>(n), std::max(0.36f * spacing_ / static_cast<float>(rows), 2.5f / static_cast<float>(n)));
  return step * static_cast<float>(w);
}

CardPose CylinderLayout::pose(int index, int count, int cards, float aspect, float heightFactor, double focus) const {
  int rows = 1;
  const float theta = angle(index, count, cards, focus, rows);
  const float k = std::max(0.67f * (1 - 0.45f * spacing_) / 0.54999995f, 0.01f);
  const float r = (rows == 2 ? 3.05f : 2.5f) + std::fabs(theta) * k;
  float y = 0.05f;
  if (rows == 2) y = (((index % 2) + 2) % 2 == 0) ? 0.63f : -0.53f;
  CardPose pose;
  pose.position = {r * std::sin(theta), y, -r * std::cos(theta)};
  pose.yaw = -theta;
  pose.size = CardPose::cardSize(aspect, heightFactor);
  return pose;
}

float CylinderLayout::shade(int index, int count, int cards, double focus) const {
  int rows = 1;
  const float theta = angle(index, count, cards, focus, rows);
  return std::max(0.0f, (std::cos(theta) + 0.17364807f) / 1.1736481f);
}

LayoutEngine::Camera CylinderLayout::camera(int count, int cards, float) const {
  const float depth = (count > 1 && cards > 6) ? -3.05f : -2.5f;
  return {{0, 0.05f, 0}, {0, -0.05f, depth}};
}

std::optional<int> CylinderLayout::neighbour(int index, int count, uint8_t direction, int cards) const {
  if (arrows_ != Arrows::wall || cards < 7 || count < 2) return defaultNeighbour(index, direction);
  const bool upperRow = ((index % 2) + 2) % 2 == 0;
  switch (direction) {
    case left:
    case right: {
      const int next = direction == left ? index - 2 : index + 2;
      if (count % 2 == 0) return next;
      if (next < 0 || next >= count) return std::nullopt;
      return next;
    }
    case up:
      if (!upperRow && index + 1 < count) return index + 1;
      return std::nullopt;
    case down:
      if (upperRow && index + 1 < count) return index + 1;
      return std::nullopt;
    default:
      return std::nullopt;
  }
}

}  // namespace quorvel
