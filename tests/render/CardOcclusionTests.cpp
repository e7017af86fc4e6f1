#include <gtest/gtest.h>

#include <set>
#include <utility>

#include "scene/render/CardOcclusion.h"

namespace quorvel {
namespace {

// Every pixel of the parts, with a check that no pixel is in two of them.
std::set<std::pair<uint32_t, uint32_t>> pixelsOf(const CardOcclusion::Parts& parts) {
  std::set<std::pair<uint32_t, uint32_t>> pixels;
  for (size_t i = 0; i < parts.count; ++i) {
    const GpuRegion& r = parts.rects[i];
    EXPECT_GT(r.width, 0u);
    EXPECT_GT(r.height, 0u);
    for (uint32_t y = r.y; y < r.y + r.height; ++y)
      for (uint32_t x = r.x; x < r.x + r.width; ++x) EXPECT_TRUE(pixels.insert({x, y}).second) << "overlap";
  }
  return pixels;
}

bool inside(const GpuRegion& r, uint32_t x, uint32_t y) {
  return x >= r.x && x < r.x + r.width && y >= r.y && y < r.y + r.height;
}

TEST(CardOcclusionTest, APieceIsWhatTheLaterInteriorsLeaveOfTheBounds) {
  CardOcclusion o;
  o.reset(400, 300);
  const GpuRegion bounds{50, 40, 200, 150};
  EXPECT_TRUE(o.visibleParts(bounds, 0).whole) << "no interiors";

  o.addInterior(1, {100, 80, 100, 60});   // inside the bounds
  o.addInterior(3, {0, 0, 80, 60});       // over their top-left corner
  o.addInterior(5, {240, 100, 100, 200});  // over their right edge
  const GpuRegion covers[] = {{100, 80, 100, 60}, {0, 0, 80, 60}, {240, 100, 100, 200}};
  const size_t places[] = {1, 3, 5};
  for (size_t first : {0u, 2u, 4u, 6u}) {
    const CardOcclusion::Parts parts = o.visibleParts(bounds, first);
    const auto pixels = pixelsOf(parts);
    // Exactly the pixels of the bounds outside every interior from `first` on.
    size_t expected = 0;
    for (uint32_t y = bounds.y; y < bounds.y + bounds.height; ++y)
      for (uint32_t x = bounds.x; x < bounds.x + bounds.width; ++x) {
        bool covered = false;
        for (size_t i = 0; i < 3; ++i) covered |= places[i] >= first && inside(covers[i], x, y);
        if (!covered) {
          ++expected;
          EXPECT_TRUE(pixels.count({x, y})) << x << "," << y << " from place " << first;
        }
      }
    EXPECT_EQ(pixels.size(), expected) << "from place " << first;
    EXPECT_EQ(parts.whole, first == 6);
  }

  // Covered whole: nothing to draw.
  o.addInterior(7, {0, 0, 400, 300});
  EXPECT_EQ(o.visibleParts(bounds, 7).count, 0u);
  // Empty bounds (off the target): nothing either.
  EXPECT_EQ(o.visibleParts(GpuRegion{}, 0).count, 0u);
  // A new frame forgets them.
  o.reset(400, 300);
  EXPECT_TRUE(o.visibleParts(bounds, 0).whole);
}

TEST(CardOcclusionTest, SmallDrawsAreNotCutAndManyCoversNeverGiveMoreThanTheCap) {
  CardOcclusion o;
  o.reset(1000, 1000);
  o.addInterior(1, {0, 0, 1000, 1000});
  EXPECT_TRUE(o.visibleParts({10, 10, 30, 30}, 0).whole) << "a small draw is drawn whole";

  // A grid of small covers, each splitting the bounds further.
  o.reset(1000, 1000);
  size_t place = 0;
  for (uint32_t y = 110; y < 500; y += 40)
    for (uint32_t x = 110; x < 500; x += 40) o.addInterior(place++, {x, y, 20, 20});
  o.addInterior(place++, {300, 300, 150, 150});  // one large cover among them
  const GpuRegion bounds{100, 100, 400, 400};
  const CardOcclusion::Parts parts = o.visibleParts(bounds, 0);
  EXPECT_GT(parts.count, 0u);
  EXPECT_LE(parts.count, CardOcclusion::kMaxParts);
  const auto pixels = pixelsOf(parts);
  // Never a visible pixel lost: every pixel outside all covers is still drawn.
  for (uint32_t y = bounds.y; y < bounds.y + bounds.height; y += 3)
    for (uint32_t x = bounds.x; x < bounds.x + bounds.width; x += 3) {
      bool covered = inside({300, 300, 150, 150}, x, y);
      for (uint32_t cy = 110; cy < 500; cy += 40)
        for (uint32_t cx = 110; cx < 500; cx += 40) covered |= inside({cx, cy, 20, 20}, x, y);
      if (!covered) {
        EXPECT_TRUE(pixels.count({x, y})) << x << "," << y;
      }
    }
  // The large cover went first: none of its pixels is drawn.
  for (uint32_t y = 300; y < 450; y += 7)
    for (uint32_t x = 300; x < 450; x += 7) EXPECT_FALSE(pixels.count({x, y}));
}

TEST(CardOcclusionTest, QuadBoundsHoldEveryPixelOfTheQuadWithAPixelToSpare) {
  CardOcclusion o;
  o.reset(640, 400);
  // The unit quad scaled to half the clip square, moved right: x from 0.25 to 0.75 of the clip
  // width to the right of centre, y from -0.25 to 0.25.
  Float4x4 mvp;
  mvp.columns[0].x = 0.5f;
  mvp.columns[1].y = 0.5f;
  mvp.columns[3].x = 0.5f;
  auto b = o.quadBounds(mvp);
  ASSERT_TRUE(b);
  EXPECT_EQ(b->x, 399u);  // (0.25 * 0.5 + 0.5) * 640 = 400, one to spare
  EXPECT_EQ(b->x + b->width, 561u);
  EXPECT_EQ(b->y, 149u);
  EXPECT_EQ(b->y + b->height, 251u);

  // Clipped to the target; off it, empty; behind the eye or not finite, unknown.
  mvp.columns[3].x = 0.9f;  // x from 0.65 to 1.15 of the clip square
  b = o.quadBounds(mvp);
  ASSERT_TRUE(b);
  EXPECT_EQ(b->x, 527u);
  EXPECT_EQ(b->x + b->width, 640u);
  mvp.columns[3].x = 5;
  b = o.quadBounds(mvp);
  ASSERT_TRUE(b);
  EXPECT_EQ(b->width, 0u);
  Float4x4 behind;
  behind.columns[3].w = -1;
  EXPECT_FALSE(o.quadBounds(behind));
  Float4x4 broken;
  broken.columns[0].x = NAN;
  EXPECT_FALSE(o.quadBounds(broken));
}

}  // namespace
}  // namespace quorvel
