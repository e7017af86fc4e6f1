#include "overlay/ChromeAnimation.h"

#include <algorithm>
#include <cmath>

namespace quorvel {

namespace {

// One coordinate of a cubic Bézier from (0, 0) to (1, 1) with control values c1 and c2.
double bezier(double t, double c1, double c2) {
  const double u = 1 - t;
  return 3 * u * u * t * c1 + 3 * u * t * t * c2 + t * t * t;
}

// y for x on the curve (0,0) (x1,y1) (x2,y2) (1,1); x grows with t, so bisection finds t.
double solve(double x, double x1, double y1, double x2, double y2) {
  double lo = 0, hi = 1;
  for (int i = 0; i < 40; ++i) {
    const double mid = (lo + hi) / 2;
    (bezier(mid, x1, x2) < x ? lo : hi) = mid;
  }
  return bezier((lo + hi) / 2, y1, y2);
}

}  // namespace

double ChromeAnimation::ease(ChromeEasing easing, double progress) {
  const double p = std::clamp(progress, 0.0, 1.0);
  switch (easing) {
    case ChromeEasing::linear:
      return p;
    case ChromeEasing::easeIn:
      return solve(p, 0.42, 0, 1, 1);
    case ChromeEasing::easeOut:
      return solve(p, 0, 0, 0.58, 1);
  }
  return p;
}

double ChromeAnimation::valueAt(Instant now) const {
  if (duration_.count() <= 0 || now >= start_ + duration_) return to_;
  if (now <= start_) return from_;
  const double progress = toSeconds(now - start_) / toSeconds(duration_);
  return from_ + (to_ - from_) * ease(easing_, progress);
}

void ChromeAnimation::setAtOnce(double value) {
  from_ = to_ = value;
  duration_ = Duration{};
}

void ChromeAnimation::animate(double value, Instant now, Duration duration, ChromeEasing easing) {
  from_ = valueAt(now);
  to_ = value;
  start_ = now;
  duration_ = duration;
  easing_ = easing;
}

}  // namespace quorvel
