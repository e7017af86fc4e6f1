#pragma once

#include "scene/LayoutEngine.h"

namespace quorvel {

// "flatRing": cards lie tilted back by 30° on a ring seen from above, all facing the viewer; the
// radius is that of 8 to 14 places, whatever the place count.
class FlatRingLayout final : public LayoutEngine {
 public:
  explicit FlatRingLayout(float spacing) : spacing_(validSpacing(spacing)) {}
  float spacing() const { return spacing_; }

  AppSettings::SwitcherStyle style() const override { return AppSettings::SwitcherStyle::flatRing; }
  CardPose pose(int index, int count, int cards, float aspect, float heightFactor, double focus) const override;
  Camera camera(int count, int cards, float extra) const override;
  float shade(int index, int count, int cards, double focus) const override;
  float verticalShift() const override { return 0.15f; }
  std::optional<float> floorY() const override { return -0.48301274f; }
  float radius(int count) const;

 private:
  float spacing_;
};

}  // namespace quorvel
