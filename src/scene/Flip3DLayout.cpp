#include "scene/Flip3DLayout.h"

#include <algorithm>
#include <cmath>

namespace quorvel {

CardPose Flip3DLayout::pose(int index, int, int, float aspect, float heightFactor, double focus) const {
  const float d = static_cast<float>(index - focus);
  CardPose pose;
  if (d < 0) {
    pose.position = Float3{-1.4f, -0.3f, 0.6f} * (1.6f * std::tanh(-d / 1.6f));
  } else {
    pose.position = Float3{0.32f, 0.18f, -0.55f} * (spacing_ * 6 * std::tanh(d / 6));
  }
  pose.yaw = -0.22f;
  pose.size = CardPose::cardSize(aspect, heightFactor);
  return pose;
}

float Flip3DLayout::shade(int index, int, int, double focus) const {
  const float d = static_cast<float>(index - focus);
  if (d < 0) return std::max(0.0f, 1 + 1.2f * d);
  return std::max(0.3f, 1 - 0.09f * std::min(d, 8.0f));
}

LayoutEngine::Camera Flip3DLayout::camera(int, int, float) const {
  return {{-0.5f, 0.55f, 1.85f}, {0.16f, -0.02f, -0.5f}};
}

std::optional<float> Flip3DLayout::drawPlaces() const { return std::max(spacing_, 1.0f) * 14; }
std::optional<float> Flip3DLayout::chromePlaces() const { return std::max(spacing_, 1.0f) * 8; }

}  // namespace quorvel
