#pragma once

#include <cstddef>
#include <vector>

#include "base/Geometry.h"

namespace quorvel {

// A rectangle of whole pixels of a bitmap: columns from the left, rows from the top (row 0 is the
// first row in memory, as in RasterBitmap).
struct RasterRegion {
  int x = 0, y = 0, width = 0, height = 0;

  bool operator==(const RasterRegion&) const = default;
  int maxX() const { return x + width; }
  int maxY() const { return y + height; }
  bool isEmpty() const { return width <= 0 || height <= 0; }
  long area() const { return isEmpty() ? 0 : static_cast<long>(width) * height; }
  bool contains(int px, int py) const { return px >= x && px < maxX() && py >= y && py < maxY(); }
  // True when the two share at least one pixel (touching edges do not).
  bool overlaps(const RasterRegion& r) const;
  // The smallest rectangle holding both.
  RasterRegion united(const RasterRegion& r) const;
  RasterRegion intersected(const RasterRegion& r) const;
};

// The parts of a bitmap that were drawn into: a few disjoint pixel rectangles inside the bitmap,
// carried beside it so that only they are uploaded and drawn. Rectangles that overlap are merged
// into the one holding both, and while there are more than kMaxCount the two whose merging adds the
// fewest pixels are merged, so no pixel is ever in two rectangles and a consumer can draw each one
// without drawing a pixel twice. A plain value.
class RasterRegions {
 public:
  static constexpr size_t kMaxCount = 8;

  // None, in a bitmap of no size (everything added is clipped away).
  RasterRegions() = default;
  // None yet, in a bitmap `width` × `height` pixels.
  RasterRegions(int width, int height) : width_(width), height_(height) {}
  // The whole bitmap as one rectangle (none when it has no size).
  static RasterRegions whole(int width, int height);

  // Adds `region` clipped to the bitmap.
  void add(RasterRegion region);
  // Adds the pixels that drawing inside `rect` can touch, `rect` in canvas coordinates (pixels,
  // origin at the bitmap's bottom-left corner, y growing upward, as RasterCanvas draws): rounded out
  // to whole pixels, grown by `margin` pixels on every side, then clipped. Nothing for an empty or
  // non-finite rectangle.
  void addCanvasRect(const Rect& rect, double margin = 0);

  const std::vector<RasterRegion>& rects() const { return rects_; }
  bool empty() const { return rects_.empty(); }
  int width() const { return width_; }
  int height() const { return height_; }
  // True when pixel (x, y), row 0 at the top, lies in one of the rectangles.
  bool contains(int x, int y) const;
  // The number of pixels covered.
  long area() const;

 private:
  std::vector<RasterRegion> rects_;
  int width_ = 0, height_ = 0;
};

}  // namespace quorvel
