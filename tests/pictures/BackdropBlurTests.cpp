#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "pictures/BackdropBlur.h"

namespace quorvel {
namespace {

void fill(DesktopStill& still, int x0, int y0, int w, int h, uint32_t colour) {
  for (int y = y0; y < y0 + h; ++y)
    for (int x = x0; x < x0 + w; ++x) still.pixels[static_cast<size_t>(y) * still.width + x] = colour;
}

int channel(uint32_t pixel, int shift) { return static_cast<int>((pixel >> shift) & 0xff); }

// The running boxes against the exact Gaussian, on a picture with hard edges and fine detail, over
// the radii the slider gives: every channel within 8 of 255, and within 1.5 on average.
TEST(BackdropBlurTest, MatchesAGaussianWithinTolerance) {
  DesktopStill picture{160, 100, std::vector<uint32_t>(160 * 100, 0xffffffffu)};
  fill(picture, 30, 20, 50, 40, 0xffc81e3cu);
  for (int x = 90; x < 150; x += 4) fill(picture, x, 10, 2, 80, 0xff0a78dcu);
  for (double radius : {0.6, 1.9, 2.0, 2.6, 6.5, 13.0, 26.0}) {
    const DesktopStill fast = BackdropBlur::blurred(picture, radius);
    const DesktopStill exact = BackdropBlur::reference(picture, radius);
    ASSERT_EQ(fast.width, picture.width);
    ASSERT_EQ(fast.height, picture.height);
    int worst = 0;
    double total = 0;
    for (size_t i = 0; i < picture.pixels.size(); ++i) {
      for (int shift : {16, 8, 0}) {
        const int d = std::abs(channel(fast.pixels[i], shift) - channel(exact.pixels[i], shift));
        worst = std::max(worst, d);
        total += d;
      }
      EXPECT_EQ(fast.pixels[i] >> 24, 0xffu);
    }
    EXPECT_LE(worst, 8) << "radius " << radius;
    EXPECT_LE(total / (picture.width * picture.height * 3), 1.5) << "radius " << radius;
  }
  // No blur, or nothing whole to blur: the picture itself.
  EXPECT_EQ(BackdropBlur::blurred(picture, 0.01).pixels, picture.pixels);
  const DesktopStill broken{3, 3, {1, 2}};
  EXPECT_EQ(BackdropBlur::blurred(broken, 10).pixels, broken.pixels);
  // One amount looks alike on a still of any width.
  EXPECT_DOUBLE_EQ(BackdropBlur::radiusFor(0.5, 1920), 39);
  EXPECT_DOUBLE_EQ(BackdropBlur::radiusFor(5, 640), 26);
  EXPECT_DOUBLE_EQ(BackdropBlur::radiusFor(-1, 1920), 0);
}

}  // namespace
}  // namespace quorvel
