#pragma once

#include "base/Clock.h"

namespace quorvel {

// The timing curves of the overlay's chrome animations.
enum class ChromeEasing { linear, easeIn, easeOut };

// One animatable number of the overlay's chrome (an opacity, a frame edge): where it was, where it
// goes, and over which stretch of the clock. Reading it at an instant gives what the screen shows
// then; setting it at once drops any running animation. A plain value, main thread.
class ChromeAnimation {
 public:
  ChromeAnimation() = default;
  explicit ChromeAnimation(double value) : from_(value), to_(value) {}

  // The value shown at `now`.
  double valueAt(Instant now) const;
  // The value the animation ends on (the model value).
  double target() const { return to_; }
  bool isAnimating(Instant now) const { return duration_.count() > 0 && now < start_ + duration_; }

  void setAtOnce(double value);
  // Animates from the value shown at `now` to `value` over `duration`.
  void animate(double value, Instant now, Duration duration, ChromeEasing easing);

  // The standard curves: ease-in (0.42, 0, 1, 1) and ease-out (0, 0, 0.58, 1) as cubic Béziers.
  static double ease(ChromeEasing easing, double progress);

 private:
  double from_ = 0;
  double to_ = 0;
  Instant start_{};
  Duration duration_{};
  ChromeEasing easing_ = ChromeEasing::linear;
};

}  // namespace quorvel
