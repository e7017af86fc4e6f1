#pragma once

#include "scene/LayoutEngine.h"

namespace quorvel {

// "row": a straight row of cards facing the viewer; the camera distance makes one card fill 55.6 %
// of the view height, 50 % from three cards on.
class RowLayout final : public LayoutEngine {
 public:
  explicit RowLayout(float spacing) : spacing_(validSpacing(spacing)) {}
  float spacing() const { return spacing_; }

  AppSettings::SwitcherStyle style() const override { return AppSettings::SwitcherStyle::row; }
  CardPose pose(int index, int count, int cards, float aspect, float heightFactor, double focus) const override;
  Camera camera(int count, int cards, float extra) const override;
  std::optional<float> floorY() const override { return -0.55f; }
  std::optional<float> drawPlaces() const override { return 4.0f; }
  std::optional<float> chromePlaces() const override { return 2.0f; }

 private:
  float spacing_;
};

}  // namespace quorvel
