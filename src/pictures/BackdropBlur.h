#pragma once

#include "platform/DesktopStill.h"

namespace quorvel {

// The soft focus of the switcher's desktop backdrop and of its preview in the settings: a Gaussian
// blur of standard deviation `radius` pixels whose edges repeat the outermost pixels (so the border
// does not darken), cropped to the picture. Three running box blurs per direction stand in for the
// Gaussian (within 8 levels of 255 of it, beyond small radii), so the time does not grow with the
// radius. A radius of 0.01 or less, or a still that is not whole, gives the picture itself. Any
// thread; pure functions.
class BackdropBlur {
 public:
  // Radii below this take the exact Gaussian.
  static constexpr double kExactBelow = 2.0;
  // The width of the picture the blur amount is measured on (the preview's still).
  static constexpr int kStillWidth = 640;

  static DesktopStill blurred(const DesktopStill& source, double radius);
  // The exact Gaussian (every tap of a kernel of ±3 standard deviations), for tests.
  static DesktopStill reference(const DesktopStill& source, double radius);
  // The blur radius in pixels of the 640-pixel picture for a "blurAmount": 0 when not above 0, at
  // most 26.
  static double radiusFor(double blurAmount);
  // The same blur on a still `width` pixels wide, so that it looks alike once scaled to one size.
  static double radiusFor(double blurAmount, int width) {
    return radiusFor(blurAmount) * (width > 0 ? width : kStillWidth) / kStillWidth;
  }
};

}  // namespace quorvel
