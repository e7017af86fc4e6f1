#pragma once

#include "scene/LayoutEngine.h"

namespace quorvel {

// "expo": cards on a grid tilted back by 0.42 rad that fills the view, in reading order or snake
// order (odd rows right to left); the focused card lifts off the plane and the grid drifts slightly
// against the focus. Arrow keys move on the visible grid and never wrap.
class ExpoLayout final : public LayoutEngine {
 public:
  ExpoLayout(AppSettings::GridOrder order, float spacing) : order_(order), spacing_(validSpacing(spacing)) {}
  AppSettings::GridOrder order() const { return order_; }
  float spacing() const { return spacing_; }

  AppSettings::SwitcherStyle style() const override { return AppSettings::SwitcherStyle::expo; }
  CardPose pose(int index, int count, int cards, float aspect, float heightFactor, double focus) const override;
  Camera camera(int count, int cards, float extra) const override;
  std::optional<int> neighbour(int index, int count, uint8_t direction, int cards) const override;

  struct Grid {
    int cols = 1;
    int rows = 1;
    bool operator==(const Grid&) const = default;
  };
  // The grid shape for max(count, 1) places.
  Grid grid(int count) const;
  // The grid point of place k (x along the grid's rows, y up the plane).
  Float2 gridPoint(int k, const Grid& grid) const;

 private:
  AppSettings::GridOrder order_;
  float spacing_;
  float gap() const;
};

}  // namespace quorvel
