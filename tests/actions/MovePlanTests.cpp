#include <gtest/gtest.h>

#include "actions/MovePlan.h"

namespace quorvel {
namespace {

using Reason = MoveRefusal::Reason;
using MoveResize = SettingEnums::MoveResize;

const uint32_t kAll = MoveCapability{true, true, true}.packed();
const uint32_t kShared = MoveCapability{true, true, false}.packed();

const Rect kLeft{0, 25, 1920, 1055};
const Rect kRight{1920, 25, 960, 515};

MovableWindow window(std::set<int64_t> spaces = {1}, WindowState state = WindowState::onCurrentSpace) {
  MovableWindow w;
  w.id = 7;
  w.pid = 42;
  w.frame = {100, 100, 800, 600};
  w.state = state;
  w.displayID = 1;
  w.sourceVisibleFrame = kLeft;
  w.hasAXHandle = true;
  w.spaceIDs = std::move(spaces);
  return w;
}

MoveDestination onLeft(int64_t space) { return {space, 1, kLeft, 1}; }
MoveDestination onRight(int64_t space, std::optional<int64_t> current = 3) { return {space, 2, kRight, current}; }

std::vector<Reason> reasons(const MovePlan& plan) {
  std::vector<Reason> out;
  for (const MoveRefusal& r : plan.refusals) out.push_back(r.reason);
  return out;
}

// Which kinds of steps a plan holds, in order: 'g' frame, 'o' own frame, 'd' desktop.
std::string kinds(const MovePlan& plan) {
  std::string out;
  for (const MovePlan::Step& s : plan.steps) out += "god"[s.index()];
  return out;
}

TEST(MovePlanTest, StepsAndRefusalsFollowTheWindowTheDestinationAndTheCapability) {
  struct Case {
    const char* name;
    MovableWindow window;
    MoveDestination destination;
    uint32_t capability;
    std::string steps;
    std::vector<Reason> refusals;
  };
  MovableWindow ours = window();
  ours.isOurs = true;
  MovableWindow noHandle = window();
  noHandle.hasAXHandle = false;
  MovableWindow noDisplay = window();
  noDisplay.displayID.reset();
  MovableWindow fullScreen = window();
  fullScreen.isOnFullscreenSpace = true;
  const Case cases[] = {
      {"minimized, whatever the destination", window({1}, WindowState::minimized), onRight(4), kAll, "", {Reason::minimized}},
      {"hidden application", window({1}, WindowState::hiddenApp), onLeft(2), kAll, "", {Reason::appIsHidden}},
      {"windowless application", window({}, WindowState::windowlessApp), onLeft(2), kAll, "", {Reason::notAWindow}},
      {"tab", window({1}, WindowState::browserTab), onLeft(2), kAll, "", {Reason::tabHasNoWindowOfItsOwn}},
      {"full-screen desktop", fullScreen, onLeft(2), kAll, "", {Reason::fullScreen}},
      {"already there", window({1}), onLeft(1), kAll, "", {}},
      {"another desktop of its display", window({1}), onLeft(2), kAll, "d", {}},
      {"on three desktops", window({1, 2, 5}), onLeft(3), kAll, "", {Reason::onEveryDesktop}},
      {"another display's current desktop, separate desktops", window({1}), onRight(3, 3), kAll, "g", {}},
      {"another display's other desktop", window({1}), onRight(4, 3), kAll, "gd", {}},
      {"another display, desktops shared", window({1}), onRight(3, 3), kShared, "gd", {}},
      {"same desktop on another display, desktops shared", window({1}), onRight(1, 1), kShared, "g", {}},
      {"no Accessibility, another application", window({1}), onRight(3), MoveCapability{false, true, true}.packed(), "",
       {Reason::accessibilityNotGranted}},
      {"no Accessibility, our own window", ours, onRight(3), MoveCapability{false, true, true}.packed(), "o", {}},
      {"no element", noHandle, onRight(3), kAll, "", {Reason::noAccessibilityHandle}},
      {"no display counts as another", noDisplay, onLeft(1), kAll, "g", {}},
      {"desktop moves unavailable beside a frame step", window({1}), onRight(4), MoveCapability{true, false, true}.packed(),
       "g", {Reason::desktopMovesUnavailable}},
  };
  for (const Case& c : cases) {
    const MovePlan plan = MovePlan::make(c.window, c.destination, c.capability, MoveResize::fitToDisplay);
    EXPECT_EQ(kinds(plan), c.steps) << c.name;
    EXPECT_EQ(reasons(plan), c.refusals) << c.name;
  }
}

TEST(MovePlanTest, DragRefusalReadsTheStateThenAccessibilityForOthersOnly) {
  MovableWindow ours = window();
  ours.isOurs = true;
  const uint32_t noAX = MoveCapability{false, true, true}.packed();
  EXPECT_EQ(MovePlan::dragRefusal(window({1}, WindowState::minimized), kAll), MoveRefusal::of(Reason::minimized));
  EXPECT_EQ(MovePlan::dragRefusal(window(), noAX), MoveRefusal::of(Reason::accessibilityNotGranted));
  EXPECT_EQ(MovePlan::dragRefusal(ours, noAX), std::nullopt);
  EXPECT_EQ(MovePlan::dragRefusal(window(), kAll), std::nullopt);
}

TEST(MovePlanTest, StepGeometryScalesFloorsCentresAndClamps) {
  struct Case {
    const char* name;
    Rect frame, source, destination;
    MoveResize mode;
    Rect expected;
  };
  const Rect big{0, 0, 2000, 1000};
  const Rect half{2000, 0, 1000, 500};
  const Case cases[] = {
      {"a share of a display half the size", {100, 100, 800, 600}, big, half, MoveResize::fitToDisplay, {2050, 50, 400, 300}},
      {"a small window keeps its own size", {0, 0, 150, 100}, big, half, MoveResize::fitToDisplay, {2000, 0, 150, 100}},
      {"a large window keeps at least 200 x 120", {0, 0, 300, 160}, big, {2000, 0, 200, 100},
       MoveResize::fitToDisplay, {2000, 0, 200, 100}},
      {"1000 x 800 shrunk keeps the floor", {0, 0, 1000, 800}, big, {2000, 0, 300, 100}, MoveResize::fitToDisplay,
       {2000, 0, 200, 100}},
      {"keepSize centres and clamps a wide window at minX", {0, 0, 1500, 400}, big, half, MoveResize::keepSize,
       {2000, 0, 1000, 400}},
      {"keepSize keeps the centre's relative place", {900, 400, 200, 200}, big, half, MoveResize::keepSize,
       {2400, 150, 200, 200}},
      {"an invalid destination leaves the frame", {1, 2, 300, 400}, big, {0, 0, 0, 500}, MoveResize::fitToDisplay,
       {1, 2, 300, 400}},
      {"a non-finite frame is left alone", {NAN, 0, 300, 400}, big, half, MoveResize::fitToDisplay, {NAN, 0, 300, 400}},
  };
  for (const Case& c : cases) {
    const Rect r = MovePlan::stepGeometry(c.frame, c.source, c.destination, c.mode);
    if (std::isnan(c.expected.x)) {
      EXPECT_TRUE(std::isnan(r.x)) << c.name;
      continue;
    }
    EXPECT_EQ(r, c.expected) << c.name;
  }
}

TEST(MovePlanTest, RefusalsCompareAndHashPutBackFramesStandardized) {
  const MoveRefusal a = MoveRefusal::putBack({10, 10, 100, -50}, {-0.0, 0, 5, 5});
  const MoveRefusal b = MoveRefusal::putBack({10, -40, 100, 50}, {0, 0, 5, 5});
  EXPECT_EQ(a, b);
  EXPECT_EQ(std::hash<MoveRefusal>{}(a), std::hash<MoveRefusal>{}(b));
  EXPECT_NE(a, MoveRefusal::putBack({10, -40, 100, 50}, {1, 0, 5, 5}));
  EXPECT_EQ(MoveRefusal::of(Reason::positionNotSettable).message(), "This window cannot be moved.");
  EXPECT_EQ(a.message(), "The app put this window back where it was. If it is tiled, untile it first.");
}

}  // namespace
}  // namespace quorvel
