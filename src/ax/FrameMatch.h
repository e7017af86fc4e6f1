#pragma once

#include <cstdint>

#include "base/Geometry.h"

namespace quorvel {

// Whether two rectangles describe the same window frame when fractions of a point are ignored.
class FrameMatch {
 public:
  // Origins compared directly, widths and heights by magnitude, each truncated toward zero.
  static bool framesMatch(const Rect& a, const Rect& b);
  // A value truncated toward zero; 0 when it is not a number, infinite or out of range.
  static int64_t truncated(double value);
};

}  // namespace quorvel
