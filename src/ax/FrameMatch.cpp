#include "ax/FrameMatch.h"

#include <cmath>

namespace quorvel {

int64_t FrameMatch::truncated(double value) {
  // 2^63 is exactly representable; every double below it (and at or above -2^63) fits.
  constexpr double kLimit = 9223372036854775808.0;
  if (!std::isfinite(value)) return 0;
  const double whole = std::trunc(value);
  if (whole >= kLimit || whole < -kLimit) return 0;
  return static_cast<int64_t>(whole);
}

bool FrameMatch::framesMatch(const Rect& a, const Rect& b) {
  if (truncated(a.x) != truncated(b.x)) return false;
  if (truncated(a.y) != truncated(b.y)) return false;
  if (truncated(std::fabs(a.width)) != truncated(std::fabs(b.width))) return false;
  return truncated(std::fabs(a.height)) == truncated(std::fabs(b.height));
}

}  // namespace quorvel
