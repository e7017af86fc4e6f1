#include <gtest/gtest.h>

#include "base/ManualLoop.h"
#include "platform/sim/SimApp.h"
#include "platform/sim/SimDesktop.h"
#include "platform/sim/SimWindow.h"
#include "windows/ProcessIdentity.h"
#include "windows/RefreshCadence.h"
#include "windows/WindowList.h"

namespace quorvel {
namespace {

TEST(WindowList, ZOrderCountsOnScreenWindowsFromTheFront) {
  ManualLoop loop;
  SimDesktop sim(loop, {.displays = {SimDisplaySpec{.id = 1, .desktops = 2}}});
  auto& app = sim.launchApp({.pid = 10, .name = "Editor"});
  auto& back = app.openWindow({.title = "Back"});
  auto& front = app.openWindow({.title = "Front"});
  auto& elsewhere = app.openWindow({.title = "Elsewhere", .desktop = sim.desktops(1)[1]});
  auto& tucked = app.openWindow({.title = "Tucked", .minimized = true});
  WindowList list(sim.windowServer());

  auto order = list.zOrderByWindowID();
  EXPECT_EQ(order.size(), 2u);
  EXPECT_EQ(order.at(front.number), 0);
  EXPECT_EQ(order.at(back.number), 1);
  EXPECT_FALSE(order.contains(elsewhere.number));
  EXPECT_FALSE(order.contains(tucked.number));

  back.raise();
  order = list.zOrderByWindowID();
  EXPECT_EQ(order.at(back.number), 0);
  EXPECT_EQ(order.at(front.number), 1);

  sim.setWindowListAvailable(false);
  EXPECT_TRUE(list.zOrderByWindowID().empty());
}

TEST(WindowList, ActiveDisplayBoundsInOrder) {
  ManualLoop loop;
  SimDesktop sim(loop, {.displays = {SimDisplaySpec{.id = 1},
                                     SimDisplaySpec{.id = 2, .frame = {1920, -200, 1280, 800}}}});
  WindowList list(sim.windowServer());
  EXPECT_EQ(list.activeDisplayBounds(), (std::vector<Rect>{{0, 0, 1920, 1080}, {1920, -200, 1280, 800}}));
  sim.setActiveDisplaysAvailable(false);
  EXPECT_TRUE(list.activeDisplayBounds().empty());
}

TEST(RefreshCadence, IdleTimeIsTheSmallerValidReading) {
  ManualLoop loop;
  SimDesktop sim(loop);
  sim.setIdleSeconds(InputIdle::Source::hidSystem, 40);
  sim.setIdleSeconds(InputIdle::Source::combinedSession, 12);
  EXPECT_EQ(RefreshCadence::idleSeconds(sim.inputIdle()), 12);
  loop.advance(std::chrono::seconds(5));
  EXPECT_EQ(RefreshCadence::idleSeconds(sim.inputIdle()), 17) << "idle time grows with the clock";

  sim.setIdleSeconds(InputIdle::Source::combinedSession, std::nullopt);
  EXPECT_EQ(RefreshCadence::idleSeconds(sim.inputIdle()), 45);
  sim.setIdleSeconds(std::nullopt);
  EXPECT_EQ(RefreshCadence::idleSeconds(sim.inputIdle()), std::nullopt);
}

// An idle timer that answers whatever a test sets, nonsense included.
class FixedIdle final : public InputIdle {
 public:
  std::optional<double> secondsSinceLastEvent(Source source) override {
    return source == Source::hidSystem ? hid : combined;
  }
  std::optional<double> hid, combined;
};

TEST(RefreshCadence, NonsenseIdleReadingsAreDropped) {
  FixedIdle idle;
  idle.hid = -3;
  idle.combined = 8;
  EXPECT_EQ(RefreshCadence::idleSeconds(idle), 8);
  idle.hid = NAN;
  EXPECT_EQ(RefreshCadence::idleSeconds(idle), 8);
  idle.combined = INFINITY;
  EXPECT_EQ(RefreshCadence::idleSeconds(idle), std::nullopt);
  idle.hid = 5;
  idle.combined = 5;
  EXPECT_EQ(RefreshCadence::idleSeconds(idle), 5);
}

TEST(ProcessIdentity, ReadsTheOwnProcessIdOnce) {
  ManualLoop loop;
  SimDesktop sim(loop, {.ownPid = 4321});
  ProcessIdentity identity(sim.workspace());
  EXPECT_EQ(identity.ownPID(), 4321);
  EXPECT_EQ(identity.ownPID(), 4321);
}

}  // namespace
}  // namespace quorvel
