#pragma once

#include <cmath>

namespace quorvel {

// Lengths of the overlay's views sit on device pixels: v becomes round(v × s) / s, halves away from
// zero, with s the window's backing scale, or 2 when there is no window or the scale is not positive.
struct PixelAlign {
  static double scaleOrFallback(double scale) { return scale > 0 ? scale : 2.0; }
  static double aligned(double value, double scale) {
    const double s = scaleOrFallback(scale);
    return std::round(value * s) / s;
  }
  // Whole points, halves away from zero.
  static double rnd(double value) { return std::round(value); }
};

}  // namespace quorvel
