#pragma once

#include <QImage>

namespace quorvel {

// The soft focus of the backdrop preview: a Gaussian blur of standard deviation `radius` pixels
// whose edges repeat the outermost pixels (so the border does not darken), cropped to the picture.
// Three running box blurs per direction stand in for the Gaussian (within 8 levels of 255 of
// it, beyond small radii), so the time does not grow with the radius. A radius of 0.01 or less gives the picture
// itself. Any thread; a pure function.
class BackdropBlur {
 public:
  // Radii below this take the exact Gaussian.
  static constexpr double kExactBelow = 2.0;

  static QImage blurred(const QImage& source, double radius);
  // The exact Gaussian (every tap of a kernel of ±3 standard deviations), for tests.
  static QImage reference(const QImage& source, double radius);
  // The blur radius in pixels of the 640-pixel picture for a "blurAmount": 0 when not above 0, at
  // most 26.
  static double radiusFor(double blurAmount);
};

}  // namespace quorvel
