#pragma once

#include "scene/LayoutEngine.h"

namespace quorvel {

// "flip3d": a tilted stack with the focused card in front, later cards receding up and to the
// right and earlier ones flying out toward the viewer; the only arrangement that flips cards.
class Flip3DLayout final : public LayoutEngine {
 public:
  explicit Flip3DLayout(float spacing) : spacing_(validSpacing(spacing)) {}
  float spacing() const { return spacing_; }

  AppSettings::SwitcherStyle style() const override { return AppSettings::SwitcherStyle::flip3d; }
  CardPose pose(int index, int count, int cards, float aspect, float heightFactor, double focus) const override;
  Camera camera(int count, int cards, float extra) const override;
  float shade(int index, int count, int cards, double focus) const override;
  bool flipsCards() const override { return true; }
  std::optional<float> floorY() const override { return -0.55f; }
  std::optional<float> drawPlaces() const override;
  std::optional<float> chromePlaces() const override;

 private:
  float spacing_;
};

}  // namespace quorvel
