#pragma once

#include <vector>

#include "platform/RasterBitmap.h"
#include "platform/RasterRegions.h"

namespace quorvel {

// What was painted into a bitmap, without the bitmap: each painted rectangle of it (`painted`, in a
// bitmap painted.width() × painted.height()) drawn into its own place of a small bitmap, one under
// the other at its left edge in the order of painted.rects() (see places). The rest of `pixels` is
// transparent. A plain value.
struct RasterSheet {
  RasterBitmap pixels;
  RasterRegions painted;

  // Where each rectangle of `painted` is in the sheet's pixels.
  static std::vector<RasterRegion> places(const RasterRegions& painted) {
    std::vector<RasterRegion> out;
    int y = 0;
    for (const RasterRegion& r : painted.rects()) {
      out.push_back({0, y, r.width, r.height});
      y += r.height;
    }
    return out;
  }
};

}  // namespace quorvel
