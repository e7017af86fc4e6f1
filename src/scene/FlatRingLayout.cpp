#include "scene/FlatRingLayout.h"

#include <algorithm>
#include <cmath>

namespace quorvel {
namespace {
constexpr float kTwoPi = 6.283185f;
}

float FlatRingLayout::radius(int count) const {
  const float capped = static_cast<float>(std::min(std::max(count, 1), 14));
  return spacing_ * std::max(capped * 1.5f * 1.15f / kTwoPi, 2.1963382f);
}

CardPose FlatRingLayout::pose(int index, int count, int, float aspect, float heightFactor, double focus) const {
  const float n = static_cast<float>(std::max(count, 1));
  const float phi = static_cast<float>(index - focus) * kTwoPi / n;
  const float r = radius(count);
  CardPose pose;
  pose.position = {r * std::sin(phi), 0, r * std::cos(phi)};
  pose.pitch = -0.52359873f;
  pose.size = CardPose::cardSize(aspect, heightFactor);
  return pose;
}

float FlatRingLayout::shade(int index, int count, int, double focus) const {
  const float n = static_cast<float>(std::max(count, 1));
  return 0.5f + 0.5f * std::cos(kTwoPi * static_cast<float>(index - focus) / n);
}

LayoutEngine::Camera FlatRingLayout::camera(int count, int, float extra) const {
  const float r = radius(count);
  const float l = 2.5f * r * (r + 1 + std::max(extra, 0.0f)) / (r + 1);
  return {{0, 0.49999997f * l, 0.86602545f * l}, {0, 0, 0}};
}

}  // namespace quorvel
