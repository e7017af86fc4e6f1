#include <gtest/gtest.h>

#include "pictures/CaptureGeometry.h"

namespace quorvel {
namespace {

TEST(CaptureGeometry, CaptureSizeFitsTheLimitsAndNeverEnlarges) {
  EXPECT_EQ(CaptureGeometry::captureSize({2, {}}, {0, 0, 1300, 600}), (PixelSize{2600, 1200}));
  EXPECT_EQ(CaptureGeometry::captureSize({2, {}}, {0, 0, 2000, 600}), (PixelSize{2600, 780}));
  EXPECT_EQ(CaptureGeometry::captureSize({1, {}}, {0, 0, 640, 480}), (PixelSize{640, 480}));
  // A content rectangle under a point falls back to the frame; a scale of 0 counts as 1.
  EXPECT_EQ(CaptureGeometry::captureSize({0, {0, 0, 0.5, 300}}, {0, 0, 800, 600}), (PixelSize{800, 600}));
  EXPECT_EQ(CaptureGeometry::captureSize({2, {0, 0, 100, 50}}, {0, 0, 800, 600}), (PixelSize{200, 100}));
  // Degenerate and absurd frames still give a capturable size.
  EXPECT_EQ(CaptureGeometry::captureSize({1, {}}, {0, 0, 0, 0}), (PixelSize{1, 1}));
  EXPECT_EQ(CaptureGeometry::captureSize({1, {}}, {0, 0, NAN, INFINITY}), (PixelSize{1, 1}));
  const PixelSize tall = CaptureGeometry::captureSize({1, {}}, {0, 0, 10, 100000});
  EXPECT_EQ(tall.height, 1200);
  EXPECT_EQ(tall.width, 1);
}

TEST(CaptureGeometry, AppRegionIsTheUnionOfTheProcessWindows) {
  ShareableWindow a{1, {}, {100, 100, 200, 100}, 0, true, ShareableApplication{7, "A", ""}};
  ShareableWindow b{2, {}, {50, 300, 100, 100}, 0, true, ShareableApplication{7, "A", ""}};
  ShareableWindow other{3, {}, {0, 0, 1000, 1000}, 0, true, ShareableApplication{8, "B", ""}};
  ShareableWindow orphan{4, {}, {5, 5, 10, 10}, 0, true, std::nullopt};
  const std::vector<ShareableWindow> all{a, b, other, orphan};
  EXPECT_EQ(CaptureGeometry::appRegion(a, all), (Rect{50, 100, 250, 300}));
  EXPECT_EQ(CaptureGeometry::appRegion(orphan, all), orphan.frame);
}

TEST(CaptureGeometry, CropTests) {
  EXPECT_TRUE(CaptureGeometry::aspectMatches(1000, 500, {0, 0, 200, 101}));
  EXPECT_FALSE(CaptureGeometry::aspectMatches(1000, 500, {0, 0, 200, 110}));
  EXPECT_FALSE(CaptureGeometry::aspectMatches(1000, 500, {0, 0, 0, 100}));
  EXPECT_FALSE(CaptureGeometry::aspectMatches(0, 500, {0, 0, 100, 100}));

  EXPECT_FALSE(CaptureGeometry::pixelExtent(700, 700, {0.1, 0.1, 0.01, 0.5}));  // 7 pixels wide
  EXPECT_EQ(CaptureGeometry::pixelExtent(1000, 500, {0.1015, 0.2, 0.05, 0.1}), (PixelRegion{101, 100, 50, 50}));
  EXPECT_FALSE(CaptureGeometry::pixelExtent(1000, 500, {0.98, 0, 0.05, 0.1}));  // past the right edge
  EXPECT_FALSE(CaptureGeometry::pixelExtent(1000, 500, {-0.01, 0, 0.05, 0.1}));
  EXPECT_FALSE(CaptureGeometry::pixelExtent(1000, 500, {NAN, 0, 0.05, 0.1}));
  EXPECT_FALSE(CaptureGeometry::pixelExtent(0, 500, {0, 0, 0.5, 0.5}));
}

}  // namespace
}  // namespace quorvel
