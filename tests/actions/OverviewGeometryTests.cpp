#include <gtest/gtest.h>

#include "actions/OverviewGeometry.h"

namespace quorvel {
namespace {

using Plan = OverviewGeometry::Plan;

DesktopMap::Display display(uint32_t id, Rect frame, int desktops, int64_t firstSpace = 1) {
  DesktopMap::Display d;
  d.displayID = id;
  d.frame = frame;
  d.visibleFrame = frame;
  d.name = "Display " + std::to_string(id);
  for (int i = 0; i < desktops; ++i) d.desktops.push_back({firstSpace + i, i + 1, false, i == 0});
  return d;
}

Plan plan(const std::vector<DesktopMap::Display>& displays, double width, double height,
          const std::vector<OverviewGeometry::WindowItem>& items = {}) {
  return OverviewGeometry::makePlan(displays, items, {}, width, height);
}

TEST(OverviewGeometryTest, EmptyAndTooSmallPlans) {
  struct Case {
    const char* name;
    std::vector<DesktopMap::Display> displays;
    double width, height;
    bool tooSmall;
  };
  const auto square = display(1, {0, 0, 1000, 1000}, 1);
  const Case cases[] = {
      {"no displays", {}, 1000, 1000, false},
      {"a display without desktops", {display(1, {0, 0, 1000, 1000}, 0)}, 1000, 1000, false},
      {"an empty display frame", {display(1, {0, 0, 0, 1000}, 1)}, 1000, 1000, false},
      {"a canvas without width", {square}, 0, 1000, false},
      {"a canvas of 96 points", {square}, 96, 1000, true},
      {"desktops 59.9 points high", {square}, 2000, 177.9, true},
  };
  for (const Case& c : cases) {
    const Plan p = plan(c.displays, c.width, c.height);
    EXPECT_EQ(p.isTooSmall, c.tooSmall) << c.name;
    EXPECT_TRUE(p.bands.empty() && p.regions.empty() && p.cells.empty()) << c.name;
  }
  const Plan sixty = plan({square}, 2000, 178);
  ASSERT_EQ(sixty.regions.size(), 1u);
  EXPECT_DOUBLE_EQ(sixty.regions[0].rect.height, 60);
}

TEST(OverviewGeometryTest, OneDesktopIsStackedAndCentredAcross) {
  const Plan p = plan({display(1, {0, 0, 1600, 1000}, 1)}, 1600, 1000);
  ASSERT_EQ(p.bands.size(), 1u);
  // Width fits 1504 / 1.6 = 940; the rows fit 904 - 22 = 882, which decides.
  EXPECT_EQ(p.bands[0].labelRect, (Rect{48 + (1504 - 882 * 1.6) / 2, 48, 882 * 1.6, 22}));
  EXPECT_EQ(p.regions[0].rect, (Rect{48 + (1504 - 882 * 1.6) / 2, 70, 882 * 1.6, 882}));
}

TEST(OverviewGeometryTest, TwoDisplaysGoSideBySideOnAWideCanvasAndStackOnATallOne) {
  const std::vector<DesktopMap::Display> two = {display(1, {0, 0, 1600, 1000}, 2, 1),
                                                display(2, {1600, 0, 1600, 1000}, 2, 3)};
  const Plan wide = plan(two, 3000, 600);
  ASSERT_EQ(wide.bands.size(), 2u);
  EXPECT_DOUBLE_EQ(wide.bands[0].rect.y, wide.bands[1].rect.y);
  EXPECT_LT(wide.bands[0].rect.maxX(), wide.bands[1].rect.x);
  // Centred both ways: the margins left and right are equal.
  EXPECT_NEAR(wide.bands[0].rect.x, 3000 - wide.bands[1].rect.maxX(), 1e-9);
  const Plan tall = plan(two, 900, 1400);
  EXPECT_DOUBLE_EQ(tall.bands[0].rect.x, tall.bands[1].rect.x);
  EXPECT_DOUBLE_EQ(tall.bands[0].labelRect.y, 48);
  EXPECT_GT(tall.bands[1].rect.y, tall.bands[0].rect.maxY());
  ASSERT_EQ(tall.regions.size(), 4u);
  EXPECT_EQ(tall.regions[2].spaceID, 3);
  EXPECT_DOUBLE_EQ(tall.regions[1].rect.x - tall.regions[0].rect.maxX(), 16);
}

TEST(OverviewGeometryTest, CellsMapWindowsIntoTheirDesktopUnclipped) {
  const std::vector<DesktopMap::Display> two = {display(1, {0, 0, 1600, 1000}, 2, 1),
                                                display(2, {1600, 0, 1600, 1000}, 2, 3)};
  const std::vector<OverviewGeometry::WindowItem> items = {
      {10, 2, {0, 0, 800, 500}, std::nullopt},
      {11, 9, {0, 0, 800, 500}, std::nullopt},      // no such desktop
      {12, 1, {1200, 800, 800, 500}, std::nullopt},  // reaches outside its display
      {13, 2, {1600, 0, 800, 500}, 2u},              // shown on the second display's band
  };
  // The second display lists the first display's desktops too, as desktops spanning every screen do.
  std::vector<DesktopMap::Display> shared = two;
  shared[1].desktops = shared[0].desktops;
  const Plan p = plan(shared, 3000, 600, items);
  ASSERT_EQ(p.cells.size(), 3u);
  const Rect first = p.regions[1].rect;
  EXPECT_EQ(p.cells[0].regionIndex, 1u);
  EXPECT_NEAR(p.cells[0].rect.width, first.width / 2, 1e-9);
  EXPECT_EQ(p.cells[1].windowID, 12u);
  EXPECT_GT(p.cells[1].rect.maxY(), p.regions[0].rect.maxY());
  EXPECT_EQ(p.cells[2].windowID, 13u);
  EXPECT_EQ(p.cells[2].regionIndex, 3u);
  EXPECT_NEAR(p.cells[2].rect.x, p.regions[3].rect.x, 1e-9);
}

}  // namespace
}  // namespace quorvel
