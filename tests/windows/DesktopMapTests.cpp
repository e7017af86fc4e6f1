#include <gtest/gtest.h>

#include <unordered_set>

#include "base/LogCapture.h"
#include "base/ManualLoop.h"
#include "platform/sim/SimDesktop.h"
#include "windows/DesktopMap.h"

namespace quorvel {
namespace {

SpaceMap::DisplaySpaces listed(std::string identifier, std::optional<int64_t> current, std::vector<int64_t> spaces) {
  return SpaceMap::DisplaySpaces{std::move(identifier), current, std::move(spaces)};
}

ScreenReading screen(std::string uuid, uint32_t id, Rect frame, std::string name) {
  ScreenReading reading;
  reading.uuid = std::move(uuid);
  reading.displayID = id;
  reading.frame = frame;
  reading.visibleFrame = Rect{frame.x, frame.y, frame.width, frame.height - 25};
  reading.isMain = frame.x == 0 && frame.y == 0;
  reading.name = std::move(name);
  return reading;
}

TEST(DesktopMap, FlipsScreensIntoTopLeftCoordinatesOfTheMainScreen) {
  SpaceMap::Topology topology;
  topology.displays = {listed("Main", 1, {1, 2}), listed("UUID-B", 3, {3})};
  topology.currentSpaceIDs = {1, 3};
  topology.indexBySpaceID = {{1, 1}, {2, 2}, {3, 3}};
  const std::vector<ScreenReading> screens = {
      screen("UUID-A", 10, {0, 0, 1920, 1080}, "Built-in"),
      screen("UUID-B", 20, {1920, 200, 1280, 800}, "Studio"),
  };
  const auto displays = DesktopMap::join(topology, screens);
  ASSERT_EQ(displays.size(), 2u);
  EXPECT_EQ(displays[0].displayID, 10u);
  EXPECT_TRUE(displays[0].isMain);
  EXPECT_EQ(displays[0].frame, (Rect{0, 0, 1920, 1080}));
  EXPECT_EQ(displays[0].visibleFrame, (Rect{0, 25, 1920, 1055}));
  EXPECT_EQ(displays[1].displayID, 20u);
  EXPECT_EQ(displays[1].name, "Studio");
  EXPECT_EQ(displays[1].frame, (Rect{1920, 80, 1280, 800}));
  EXPECT_EQ(displays[1].visibleFrame, (Rect{1920, 105, 1280, 775}));
}

TEST(DesktopMap, DesktopsCarryNumbersFullScreenAndCurrentFlags) {
  SpaceMap::Topology topology;
  topology.displays = {listed("Main", 7, {5, 7, 6})};
  topology.currentSpaceIDs = {7};
  topology.indexBySpaceID = {{5, 1}, {6, 2}};
  topology.fullscreenSpaceIDs = {7};
  const auto displays = DesktopMap::join(topology, {screen("U", 1, {0, 0, 1440, 900}, "Main")});
  ASSERT_EQ(displays.size(), 1u);
  const auto& desktops = displays[0].desktops;
  ASSERT_EQ(desktops.size(), 3u);
  EXPECT_EQ(desktops[0], (DesktopMap::Desktop{5, 1, false, false}));
  EXPECT_EQ(desktops[1], (DesktopMap::Desktop{7, std::nullopt, true, true}));
  EXPECT_EQ(desktops[2], (DesktopMap::Desktop{6, 2, false, false}));
}

TEST(DesktopMap, OneListedDisplayJoinsTheOnlyScreenWhateverItsIdentifier) {
  SpaceMap::Topology topology;
  topology.displays = {listed("SOMETHING-ELSE", 1, {1})};
  topology.currentSpaceIDs = {1};
  LogCapture log;
  auto displays = DesktopMap::join(topology, {screen("U", 4, {0, 0, 1440, 900}, "Only")});
  ASSERT_EQ(displays.size(), 1u);
  EXPECT_EQ(displays[0].displayID, 4u);
  EXPECT_TRUE(log.messages("Overview").empty());

  // With two screens the same display matches nothing and is left out, with a log line.
  displays = DesktopMap::join(topology, {screen("U", 4, {0, 0, 1440, 900}, "Only"),
                                         screen("V", 5, {1440, 0, 1440, 900}, "Other")});
  EXPECT_TRUE(displays.empty());
  EXPECT_TRUE(log.contains(
      "a display the window server listed matches no attached screen, so its desktops are left out of the overview"));

  // "Main" without any screen is left out silently.
  log.clear();
  topology.displays = {listed("Main", 1, {1})};
  EXPECT_TRUE(DesktopMap::join(topology, {}).empty());
  EXPECT_TRUE(log.messages("Overview").empty());
}

TEST(DesktopMap, MainFallsBackToTheFirstScreenWhenNoneIsAtTheOrigin) {
  SpaceMap::Topology topology;
  topology.displays = {listed("Main", 1, {1})};
  topology.currentSpaceIDs = {1};
  const auto displays = DesktopMap::join(topology, {screen("U", 4, {10, 10, 1000, 700}, "Shifted"),
                                                    screen("V", 5, {1010, 0, 800, 600}, "Second")});
  ASSERT_EQ(displays.size(), 1u);
  EXPECT_EQ(displays[0].displayID, 4u);
  EXPECT_FALSE(displays[0].isMain);
  // Flipped on the first screen's height: y = 700 − (10 + 700).
  EXPECT_EQ(displays[0].frame, (Rect{10, -10, 1000, 700}));
}

TEST(DesktopMap, AllDesktopsAndTheDisplayHoldingARectangle) {
  DesktopMap map;
  DesktopMap::Display left;
  left.displayID = 1;
  left.frame = {0, 0, 1000, 800};
  left.desktops = {{1, 1, false, true}, {2, 2, false, false}};
  DesktopMap::Display right;
  right.displayID = 2;
  right.frame = {1000, 0, 1000, 800};
  right.desktops = {{3, 3, false, true}};
  map.displays = {left, right};

  const auto all = map.allDesktops();
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[2].spaceID, 3);

  EXPECT_EQ(map.displayContaining({900, 100, 400, 300})->displayID, 2u);
  EXPECT_EQ(map.displayContaining({700, 100, 400, 300})->displayID, 1u);
  EXPECT_FALSE(map.displayContaining({3000, 0, 100, 100}));
}

TEST(LargestOverlapIndex, CentreDecidesNearTiesAndAreaDecidesTheRest) {
  const std::vector<Rect> sideBySide = {{0, 0, 1000, 800}, {1000, 0, 1000, 800}};
  // Exactly half on each display: the centre (x = 1000) belongs to the right one.
  EXPECT_EQ(largestOverlapIndex(sideBySide, {900, 100, 200, 100}), 1u);
  // Wholly outside, or only touching an edge.
  EXPECT_EQ(largestOverlapIndex(sideBySide, {0, 900, 100, 100}), std::nullopt);
  EXPECT_EQ(largestOverlapIndex(sideBySide, {0, 800, 100, 100}), std::nullopt);
  EXPECT_EQ(largestOverlapIndex({}, {0, 0, 10, 10}), std::nullopt);

  // A tall display beside a short one: the rectangle's centre lies on the short one.
  const Rect tall{0, 0, 100, 100};
  const Rect shortOne{100, 0, 100, 30};
  // Overlaps 750 and 749.7: within 0.5, so the display holding the centre wins, in either order.
  const Rect nearTie{85, 0, 39.99, 50};
  EXPECT_EQ(largestOverlapIndex({tall, shortOne}, nearTie), 1u);
  EXPECT_EQ(largestOverlapIndex({shortOne, tall}, nearTie), 0u);
  // Overlaps 1000 and 750: the bigger one wins although the centre is on the other.
  EXPECT_EQ(largestOverlapIndex({tall, shortOne}, {80, 0, 45, 50}), 0u);
  EXPECT_EQ(largestOverlapIndex({shortOne, tall}, {80, 0, 45, 50}), 1u);
  // Equal areas stacked vertically: the centre (5, 10) lies on the lower display.
  EXPECT_EQ(largestOverlapIndex({{0, 0, 10, 10}, {0, 10, 10, 10}}, {0, 5, 10, 10}), 1u);
  EXPECT_EQ(largestOverlapIndex({{0, 0, 10, 10}, {10, 0, 10, 10}}, {5, 20, 10, 10}), std::nullopt);

  // A display that overlaps with no area is skipped even when listed first.
  EXPECT_EQ(largestOverlapIndex({{0, 0, 0, 0}, {0, 0, 100, 100}}, {10, 10, 10, 10}), 1u);
}

TEST(DesktopMap, EqualValuesHashAlikeAndNegativeZeroCountsAsZero) {
  ScreenReading a = screen("U", 1, {0, 0, 100, 100}, "A");
  ScreenReading b = a;
  b.frame.x = -0.0;
  EXPECT_EQ(a, b);
  EXPECT_EQ(std::hash<ScreenReading>{}(a), std::hash<ScreenReading>{}(b));
  b.name = "B";
  EXPECT_NE(std::hash<ScreenReading>{}(a), std::hash<ScreenReading>{}(b));

  std::unordered_set<DesktopMap::Desktop> desktops = {{1, 1, false, false}, {1, std::nullopt, false, false},
                                                      {1, 1, false, false}};
  EXPECT_EQ(desktops.size(), 2u);
}

TEST(DesktopMap, ReadsTheSimulatedDisplaysBackIntoWindowCoordinates) {
  ManualLoop loop;
  SimDesktop sim(loop, {.displays = {SimDisplaySpec{.id = 1, .frame = {0, 0, 1920, 1080}, .name = "Built-in",
                                                    .desktops = 2},
                                     SimDisplaySpec{.id = 2, .frame = {1920, 80, 1280, 800}, .name = "Studio"}}});
  SpaceMap spaces(sim.desktopServer());
  LogCapture log;
  const auto map = DesktopMap::read(spaces, sim.displays());
  ASSERT_TRUE(map);
  EXPECT_TRUE(map->separateSpaces);
  ASSERT_EQ(map->displays.size(), 2u);
  EXPECT_EQ(map->displays[0].displayID, 1u);
  EXPECT_TRUE(map->displays[0].isMain);
  EXPECT_EQ(map->displays[0].frame, (Rect{0, 0, 1920, 1080}));
  EXPECT_EQ(map->displays[1].frame, (Rect{1920, 80, 1280, 800}));
  EXPECT_EQ(map->displays[1].name, "Studio");
  const auto all = map->allDesktops();
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[0].number, 1);
  EXPECT_TRUE(all[0].isCurrent);
  EXPECT_EQ(all[1].number, 2);
  EXPECT_FALSE(all[1].isCurrent);
  EXPECT_EQ(all[2].number, 3);
  EXPECT_TRUE(all[2].isCurrent);
  EXPECT_EQ(log.messages("Overview"), std::vector<std::string>{
                                          "desk read: 2 listed by the window server, 2 screens attached, 2 joined, 3 desktops"});
}

TEST(DesktopMap, SharedDesktopsJoinTheMainScreen) {
  ManualLoop loop;
  SimDesktop sim(loop, {.displays = {SimDisplaySpec{.id = 1}, SimDisplaySpec{.id = 2, .frame = {1920, 0, 1920, 1080}}},
                        .separateSpaces = false});
  SpaceMap spaces(sim.desktopServer());
  const auto map = DesktopMap::read(spaces, sim.displays());
  ASSERT_TRUE(map);
  EXPECT_FALSE(map->separateSpaces);
  ASSERT_EQ(map->displays.size(), 1u);
  EXPECT_EQ(map->displays[0].displayID, 1u);
  EXPECT_EQ(map->displays[0].desktops.size(), 2u);
}

TEST(DesktopMap, NoMapWithoutDesktops) {
  ManualLoop loop;
  SimDesktop sim(loop);
  sim.setDesktopGroupAvailable(DesktopServer::Group::spaces, false);
  SpaceMap spaces(sim.desktopServer());
  LogCapture log;
  EXPECT_FALSE(DesktopMap::read(spaces, sim.displays()));
  EXPECT_EQ(log.messages("Overview"),
            std::vector<std::string>{
                "the window server would not say which desktops exist, so the Desktops overview cannot open"});
}

}  // namespace
}  // namespace quorvel
