#pragma once

#include "scene/LayoutEngine.h"

namespace quorvel {

// "cylinder": the viewer stands inside a cylinder wall of cards, in one row, or in two interleaved
// rows (even places above, odd below) when there are more than six cards. With "wall" arrows the
// left and right keys move along a row and up and down between the rows.
class CylinderLayout final : public LayoutEngine {
 public:
  enum class Arrows { order, wall };

  CylinderLayout(Arrows arrows, float spacing) : arrows_(arrows), spacing_(validSpacing(spacing)) {}
  Arrows arrows() const { return arrows_; }
  float spacing() const { return spacing_; }

  AppSettings::SwitcherStyle style() const override { return AppSettings::SwitcherStyle::cylinder; }
  CardPose pose(int index, int count, int cards, float aspect, float heightFactor, double focus) const override;
  Camera camera(int count, int cards, float extra) const override;
  float shade(int index, int count, int cards, double focus) const override;
  std::optional<int> neighbour(int index, int count, uint8_t direction, int cards) const override;
  // "order" and "wall"; any other raw value gives none.
  static std::optional<Arrows> arrowsFromRawValue(std::string_view raw);

 private:
  Arrows arrows_;
  float spacing_;
  // The wrapped angle of a place and the number of rows.
  float angle(int index, int count, int cards, double focus, int& rows) const;
};

}  // namespace quorvel
