#include "scene/CoverArcLayout.h"

#include <algorithm>
#include <cmath>

namespace quorvel {
namespace {

constexpr float kPi = 3.1415925f;

float halfArc(float spacing) { return std::min(2.4f * spacing, kPi) * 0.5f; }

float arcAngle(float spacing, float d) {
  const float a = halfArc(spacing);
  return a * std::tanh(0.38f * spacing * d / a);
}

}  // namespace

CardPose CoverArcLayout::pose(int index, int, int, float aspect, float heightFactor, double focus) const {
  const float d = static_cast<float>(index - focus);
  const float theta = arcAngle(spacing_, d);
  CardPose pose;
  pose.position = {2.2f * std::sin(theta), 0, 2.2f * (std::cos(theta) - 1) - 0.16f * std::fabs(d)};
  pose.yaw = std::clamp(0.85f * theta, -0.7f, 0.7f);
  pose.size = CardPose::cardSize(aspect, heightFactor);
  return pose;
}

float CoverArcLayout::shade(int index, int, int, double focus) const {
  const float d = static_cast<float>(index - focus);
  const float theta = arcAngle(spacing_, d);
  const float value = std::min(1.0f - 0.07f * std::min(std::fabs(d), 8.0f), 0.5f + 0.5f * std::cos(theta));
  return std::max(value, 0.3f);
}

float CoverArcLayout::fitFactor(int count, float extra) const {
  if (count < 2) return 1.0f;
  const Float3 f = normalizeOrZero({0, -0.5f, -1.88f});
  const float b = -dot(f, {0, 0.35f, 1.88f});
  if (b <= 0.0001f) return 1.0f;
  const float m = extra > 0 ? 1 + extra : 1.0f;
  const float last = static_cast<float>(count - 1);
  const float k0 = std::max(last / 24.0f, 0.5f);
  float factor = 1.0f;
  for (int i = 1;; ++i) {
    const float k = k0 * static_cast<float>(i);
    if (!(k <= last + 0.0001f)) break;
    const float theta = arcAngle(spacing_, k);
    const float yaw = std::clamp(0.85f * theta, -0.7f, 0.7f);
    const float x = 2.2f * std::sin(theta);
    const float z = 2.2f * (std::cos(theta) - 1) - 0.16f * k;
    const Float3 edges[2] = {{x + m * std::cos(yaw), 0.5f, z - m * std::sin(yaw)},
                             {x - m * std::cos(yaw), 0.5f, z + m * std::sin(yaw)}};
    for (const Float3& e : edges) factor = std::max(factor, (e.x / 0.7083213f - dot(f, e)) / b);
  }
  return std::min(factor, 1.6f);
}

LayoutEngine::Camera CoverArcLayout::camera(int count, int, float extra) const {
  const float d = fitFactor(count, extra);
  return {{0, 0.35f * d, 1.88f * d}, {0, -0.15f * d, 0}};
}

std::optional<float> CoverArcLayout::drawPlaces() const { return std::max(spacing_, 1.0f) * 13; }
std::optional<float> CoverArcLayout::chromePlaces() const { return std::max(spacing_, 1.0f) * 8; }

}  // namespace quorvel
