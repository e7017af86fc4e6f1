#pragma once

#include <cstdint>
#include <optional>

#include "base/Geometry.h"

namespace quorvel {

// Turns unit rectangles (fractions of a window's frame) into regions of a captured picture, for
// cutting a tab's site icon or a window's part out of it.
class CaptureGeometry {
 public:
  // A two-dimensional texture region in pixels: origin (x, y, 0), size (width, height, 1).
  struct Region {
    int64_t x = 0, y = 0, z = 0;
    int64_t width = 0, height = 0, depth = 1;
    bool operator==(const Region&) const = default;
  };

  // Whether a picture of the given pixel size has the rectangle's aspect ratio (within 2 %).
  static bool aspectMatches(int64_t pixelWidth, int64_t pixelHeight, const Rect& rect);
  // The pixel region of a unit rectangle in a picture of the given size: at least 8 × 8 pixels and
  // wholly inside the picture, or none.
  static std::optional<Region> pixelExtent(int64_t pixelWidth, int64_t pixelHeight, const Rect& unitRect);
};

}  // namespace quorvel
