#pragma once

#include "platform/PixelBuffer.h"

namespace quorvel {

// Whether a captured still shows its window: a still that has wide fully transparent margins at its
// right or bottom edge (a window caught while resizing, or one whose content is not drawn yet), or
// one that is (nearly) black from a window not known to have drawn, is not used. Reads few pixels: 25 samples for the luminance, and only
// the outermost columns and rows for the margins. Pure functions.
class StillAcceptance {
 public:
  static constexpr double kMinimumLuminance = 8.0;

  struct Margins {
    int rightColumns = 0, bottomRows = 0;
    bool operator==(const Margins&) const = default;
  };

  // The fully transparent columns at the right edge and rows at the bottom edge, counted from the
  // edge inward; at most one beyond the allowed limit is examined, so a count above the limit
  // stands for any wider margin. (0, 0) for a buffer without pixels.
  static Margins transparentMargins(const PixelBuffer& buffer);

  // The most transparent columns (rows) a still of `side` pixels may have: 1 % of it, at least 2.
  static int marginLimit(int side);

  // The mean luma (0.299 R + 0.587 G + 0.114 B) of a 5 × 5 grid of samples, at columns 10 %, 30 %,
  // 50 %, 70 % and 90 % of the width and at the middles of five equal bands of rows. 255 for a
  // buffer without pixels.
  static double sampledLuminance(const PixelBuffer& buffer);

  // A window's still: margins within their limits, and a luminance above kMinimumLuminance unless
  // the window is known to have drawn since it was mapped (then a dark still is what it shows: a
  // terminal's black, a dark theme).
  static bool acceptsStill(const PixelBuffer& buffer, bool drawnSinceMapped = false);
};

}  // namespace quorvel
