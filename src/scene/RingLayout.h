#pragma once

#include "scene/LayoutEngine.h"

namespace quorvel {

// "tangentRing": cards stand around a ring (radius at least 2.2), each turned to face outward; the
// ring wraps, so any focus is valid.
class RingLayout final : public LayoutEngine {
 public:
  explicit RingLayout(float spacing) : spacing_(validSpacing(spacing)) {}
  float spacing() const { return spacing_; }

  AppSettings::SwitcherStyle style() const override { return AppSettings::SwitcherStyle::tangentRing; }
  CardPose pose(int index, int count, int cards, float aspect, float heightFactor, double focus) const override;
  Camera camera(int count, int cards, float extra) const override;
  float shade(int index, int count, int cards, double focus) const override;
  float verticalShift() const override { return 0.02f; }
  std::optional<float> floorY() const override { return -0.55f; }
  float radius(int count) const;

 private:
  float spacing_;
};

}  // namespace quorvel
