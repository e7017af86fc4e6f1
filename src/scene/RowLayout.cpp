#include "scene/RowLayout.h"

#include <algorithm>
#include <cmath>

namespace quorvel {

CardPose RowLayout::pose(int index, int, int, float aspect, float heightFactor, double focus) const {
  const float d = static_cast<float>(index - focus);
  CardPose pose;
  pose.position = {d * (std::max(0.3f * spacing_, 0.29999995f) + 1.6f), 0, 0};
  pose.size = CardPose::cardSize(aspect, heightFactor);
  return pose;
}

LayoutEngine::Camera RowLayout::camera(int count, int, float) const {
  const float h = static_cast<float>(std::max(count, 1) - 1) / 2;
  float q = h <= 0 ? 0.556f : 0.556f - 0.055999994f * std::min(h, 1.0f);
  q = std::max(q, 0.001f);
  return {{0, 0, 1 / (2 * q * 0.4663076f)}, {0, 0, 0}};
}

}  // namespace quorvel
