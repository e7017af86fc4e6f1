#include "scene/RingLayout.h"

#include <algorithm>
#include <cmath>

namespace quorvel {
namespace {
constexpr float kTwoPi = 6.283185f;
}

float RingLayout::radius(int count) const {
  const float n = static_cast<float>(std::max(count, 1));
  return std::max(spacing_ * n * 1.5f * 1.15f / kTwoPi, 2.2f);
}

CardPose RingLayout::pose(int index, int count, int, float aspect, float heightFactor, double focus) const {
  const float n = static_cast<float>(std::max(count, 1));
  const float phi = static_cast<float>(index - focus) * kTwoPi / n;
  const float r = radius(count);
  CardPose pose;
  pose.position = {r * std::sin(phi), 0, r * std::cos(phi)};
  pose.yaw = phi;
  pose.size = CardPose::cardSize(aspect, heightFactor);
  return pose;
}

float RingLayout::shade(int index, int count, int, double focus) const {
  const float n = static_cast<float>(std::max(count, 1));
  return 0.5f + 0.5f * std::cos(kTwoPi * static_cast<float>(index - focus) / n);
}

LayoutEngine::Camera RingLayout::camera(int count, int, float) const {
  const float r = radius(count);
  return {{0, 0.4f, r + 1.95f}, {0, -0.4f, 0.15f * r}};
}

}  // namespace quorvel
