#include "scene/CardPose.h"

#include <cmath>

namespace quorvel {

CardPose CardPose::blend(const CardPose& from, const CardPose& to, float t) {
  auto mix = [t](float a, float b) { return a + (b - a) * t; };
  CardPose pose;
  pose.position = {mix(from.position.x, to.position.x), mix(from.position.y, to.position.y),
                   mix(from.position.z, to.position.z)};
  pose.yaw = mix(from.yaw, to.yaw);
  pose.pitch = mix(from.pitch, to.pitch);
  pose.size = {mix(from.size.x, to.size.x), mix(from.size.y, to.size.y)};
  return pose;
}

Float4x4 CardPose::modelMatrix() const {
  const float cy = std::cos(yaw), sy = std::sin(yaw);
  const float cp = std::cos(pitch), sp = std::sin(pitch);
  // Rotation Ry(yaw) × Rx(pitch), columns: the images of the unit axes.
  const Float3 xAxis{cy, 0, -sy};
  const Float3 yAxis{sy * sp, cp, cy * sp};
  const Float3 zAxis{sy * cp, -sp, cy * cp};
  Float4x4 m;
  m.columns[0] = {xAxis.x * size.x, xAxis.y * size.x, xAxis.z * size.x, 0};
  m.columns[1] = {yAxis.x * size.y, yAxis.y * size.y, yAxis.z * size.y, 0};
  m.columns[2] = {zAxis.x, zAxis.y, zAxis.z, 0};
  m.columns[3] = {position.x, position.y, position.z, 1};
  return m;
}

Float2 CardPose::cardSize(float aspect, float heightFactor) {
  const float h = (std::isfinite(heightFactor) && heightFactor > 0) ? std::clamp(heightFactor, 0.5f, 1.0f) : 1.0f;
  const float a = (std::isfinite(aspect) && aspect > 0) ? std::clamp(aspect, 0.35f, 2.0f) : 1.6f;
  return {a * h, h};
}

}  // namespace quorvel
