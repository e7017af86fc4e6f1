#include "platform/RasterBitmap.h"
#include "platform/RasterRegions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace quorvel {
namespace {

TEST(RasterRegions, CanvasRectanglesAreRoundedOutFlippedToRowsFromTheTopAndClipped) {
  RasterRegions r(100, 50);
  // Canvas y grows upward from the bottom row: y 10.2...19.6 is rows 30...39 from the top.
  r.addCanvasRect({4.5, 10.2, 10.0, 9.4});
  ASSERT_EQ(r.rects().size(), 1u);
  EXPECT_EQ(r.rects()[0], (RasterRegion{4, 30, 11, 10}));
  // Grown by a margin, then clipped to the bitmap.
  r.addCanvasRect({95, 45, 10, 10}, 2);
  EXPECT_EQ(r.rects().back(), (RasterRegion{93, 0, 7, 7}));
  // Empty, outside or not finite: nothing.
  RasterRegions none(100, 50);
  none.addCanvasRect({10, 10, 0, 5});
  none.addCanvasRect({200, 10, 5, 5});
  none.addCanvasRect({-50, -50, 20, 20});
  none.addCanvasRect({NAN, 1, 2, 2});
  none.addCanvasRect({1, 1, INFINITY, 2});
  none.addCanvasRect({1e300, -1e300, 1e300, 1e300}, 1);
  EXPECT_TRUE(none.empty());
  EXPECT_TRUE(RasterRegions().empty());
  RasterRegions unsized;
  unsized.add({0, 0, 5, 5});
  EXPECT_TRUE(unsized.empty());
  EXPECT_EQ(RasterRegions::whole(7, 3).rects(), (std::vector<RasterRegion>{{0, 0, 7, 3}}));
}

TEST(RasterRegions, OverlapsMergeAndTooManyMergeTheCheapestPairLeavingNoPixelInTwo) {
  RasterRegions r(1000, 1000);
  r.add({0, 0, 10, 10});
  r.add({20, 0, 10, 10});
  r.add({10, 0, 10, 10});  // touches both: kept apart
  EXPECT_EQ(r.rects().size(), 3u);
  r.add({5, 5, 20, 2});  // overlaps all three: one rectangle
  ASSERT_EQ(r.rects().size(), 1u);
  EXPECT_EQ(r.rects()[0], (RasterRegion{0, 0, 30, 10}));

  // Far more small rectangles than the bound, some overlapping: the pixels covered stay covered,
  // no two rectangles share a pixel, and near neighbours merge before far ones.
  RasterRegions many(1000, 1000);
  std::vector<RasterRegion> added;
  for (int i = 0; i < 30; ++i) {
    const RasterRegion one{(i * 137) % 900, (i * 61) % 900, 12 + i % 5, 9 + i % 7};
    added.push_back(one);
    many.add(one);
  }
  EXPECT_LE(many.rects().size(), RasterRegions::kMaxCount);
  for (const RasterRegion& a : added)
    for (int y = a.y; y < a.maxY(); ++y)
      for (int x = a.x; x < a.maxX(); ++x) ASSERT_TRUE(many.contains(x, y)) << x << "," << y;
  const auto& rects = many.rects();
  for (size_t i = 0; i < rects.size(); ++i)
    for (size_t j = i + 1; j < rects.size(); ++j) EXPECT_FALSE(rects[i].overlaps(rects[j]));

  RasterRegions pairs(1000, 1000);
  for (int i = 0; i <= static_cast<int>(RasterRegions::kMaxCount); ++i) pairs.add({i * 100, 0, 10, 10});
  pairs.add({0, 900, 10, 10});  // far from everything
  EXPECT_LE(pairs.rects().size(), RasterRegions::kMaxCount);
  EXPECT_TRUE(std::any_of(pairs.rects().begin(), pairs.rects().end(),
                          [](const RasterRegion& x) { return x == RasterRegion{0, 900, 10, 10}; }))
      << "the far one stays alone";
}

TEST(RasterBitmapTest, ClearingARectangleTouchesOnlyItsPixelsInsideTheBitmap) {
  RasterBitmap b = *RasterBitmap::make(6, 4);
  std::fill_n(b.data(), b.byteCount(), uint8_t{200});
  b.clear(4, 2, 10, 10);   // runs off the right and the bottom
  b.clear(-3, -3, 4, 4);   // starts above and left of it
  b.clear(2, 0, 0, 3);     // empty
  b.clear(2, 0, -5, 3);    // negative
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 6; ++x) {
      const bool cleared = (x >= 4 && y >= 2) || (x < 1 && y < 1);
      EXPECT_EQ(b.pixel(x, y).alpha, cleared ? 0 : 200) << x << "," << y;
    }
}

}  // namespace
}  // namespace quorvel
