#pragma once

#include "scene/SceneMath.h"

namespace quorvel {

// Where a card stands in the scene: the centre of the card, its turn about the vertical axis (yaw),
// its tilt about its own horizontal axis (pitch) and its width and height in world units (a card of
// full height is 1.0 tall). Produced by every arrangement, blended, and turned into a model matrix
// for drawing and hit testing. A plain value: any thread.
struct CardPose {
  Float3 position;
  float yaw = 0;
  float pitch = 0;
  Float2 size{1, 1};

  bool operator==(const CardPose&) const = default;

  // Per component a + (b − a) × t for position, yaw, pitch and size; t is not clamped.
  static CardPose blend(const CardPose& from, const CardPose& to, float t);

  // translation(position) × rotation about +y by yaw × rotation about +x by pitch ×
  // scale(width, height, 1), for a unit quad centred on the origin (all right-handed: the card's +x
  // goes to (cos yaw, 0, −sin yaw), its +y to (0, cos pitch, sin pitch) before the yaw).
  Float4x4 modelMatrix() const;

  // The card size rule of every arrangement: height = heightFactor clamped to [0.5, 1.0] when it is
  // finite and above 0, else 1.0; aspect = aspect clamped to [0.35, 2.0] when finite and above 0,
  // else 1.6; size = (aspect × height, height). Never NaN or zero.
  static Float2 cardSize(float aspect, float heightFactor);
};

}  // namespace quorvel
