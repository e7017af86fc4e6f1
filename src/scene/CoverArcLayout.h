#pragma once

#include "scene/LayoutEngine.h"

namespace quorvel {

// "coverArc", the default arrangement: cards on an arc that flattens with distance from the focus,
// turned toward the centre by at most 0.7 rad. The camera backs off (fit factor 1.0 to 1.6) until the
// outermost cards fit a 1.55 view. Spacing: a value that is not finite or not above 0 reads as 1.0.
class CoverArcLayout final : public LayoutEngine {
 public:
  explicit CoverArcLayout(float spacing) : spacing_(validSpacing(spacing)) {}
  float spacing() const { return spacing_; }

  AppSettings::SwitcherStyle style() const override { return AppSettings::SwitcherStyle::coverArc; }
  CardPose pose(int index, int count, int cards, float aspect, float heightFactor, double focus) const override;
  Camera camera(int count, int cards, float extra) const override;
  float shade(int index, int count, int cards, double focus) const override;
  float verticalShift() const override { return -0.1f; }
  std::optional<float> floorY() const override { return -0.55f; }
  std::optional<float> drawPlaces() const override;
  std::optional<float> chromePlaces() const override;
  // The camera's fit factor D for n places and the piles' extra room.
  float fitFactor(int count, float extra) const;

 private:
  float spacing_;
};

}  // namespace quorvel
