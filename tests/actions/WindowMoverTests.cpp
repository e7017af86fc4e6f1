#include <gtest/gtest.h>

#include "actions/MoveRunner.h"
#include "actions/WindowMover.h"
#include "tabs/TabFixture.h"
#include "windows/SpaceMap.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;
using Reason = MoveRefusal::Reason;

class WindowMoverTest : public TabFixture {
 protected:
  static constexpr int32_t kPid = 300;

  WindowMoverTest() {
    sim.addDesktop(1);
    sim.launchApp({.pid = kPid, .bundleID = "com.example.editor", .name = "Editor"});
  }

  SimWindow& open(Rect frame = {100, 100, 800, 600}) { return sim.openWindow(kPid, {.title = "w", .frame = frame}); }
  // How often a client wrote the application's enhanced-interface switch.
  int enhancedWrites() const { return switchWrites; }
  void watchSwitch(std::optional<bool> initial) {
    const SimElementId app = sim.applicationElement(kPid);
    if (initial) sim.setAttribute(app, "AXEnhancedUserInterface", *initial);
    sim.onAttributeSet(app, "AXEnhancedUserInterface", [this](SimElementId, const AXValue&) { ++switchWrites; });
  }
  // Runs the landing poll to its end; its answer and the virtual time it took.
  std::pair<bool, Duration> land(uint32_t window, int64_t space, std::function<void()> atThirdPoll = {}) {
    std::optional<bool> answer;
    const Instant start = loop.clock().now();
    auto task = spawn(loop.main(), [](const WindowMover& m, uint32_t w, int64_t s, std::optional<bool>* out) -> Task<void> {
      *out = co_await m.waitForDesktopLanding(w, s);
    }(mover, window, space, &answer));
    loop.runUntilIdle();
    if (atThirdPoll) {
      loop.advance(130ms);
      atThirdPoll();
    }
    loop.runUntil([&] { return answer.has_value(); }, 2s);
    return {answer.value_or(false), loop.clock().now() - start};
  }

  SpaceMap spaces{sim.desktopServer()};
  WindowMover mover{{sim.accessibility(), spaces, sim.displays(), true}};
  int switchWrites = 0;
};

TEST_F(WindowMoverTest, GeometryLandsIsPutBackOrIsRefused) {
  const Rect target{1000, 200, 640, 480};
  struct Case {
    const char* name;
    std::function<void(SimWindow&)> arrange;
    std::variant<Rect, MoveRefusal> expected;
  };
  const Case cases[] = {
      {"a plain window lands", [](SimWindow&) {}, target},
      {"an application that snaps it back",
       [this](SimWindow& w) {
         sim.onAttributeSet(w.element(), "AXPosition",
                            [this, n = w.number](SimElementId, const AXValue&) { sim.setWindowFrame(n, {100, 100, 800, 600}); });
       },
       MoveRefusal::putBack(target, {100, 100, 800, 600})},
      {"an application that keeps its own size",
       [this](SimWindow& w) {
         sim.onAttributeSet(w.element(), "AXSize", [this, n = w.number](SimElementId, const AXValue&) {
           Rect f = *sim.windowFrame(n);
           sim.setWindowFrame(n, {f.x, f.y, 800, 600});
         });
       },
       Rect{1000, 200, 800, 600}},
      {"a window whose position cannot be set",
       [this](SimWindow& w) { sim.setSettable(w.element(), "AXPosition", false); },
       MoveRefusal::of(Reason::positionNotSettable)},
      {"a full-screen window", [this](SimWindow& w) { sim.setAttribute(w.element(), "AXFullScreen", true); },
       MoveRefusal::of(Reason::fullScreen)},
  };
  for (const Case& c : cases) {
    SimWindow& window = open();
    c.arrange(window);
    EXPECT_EQ(mover.applyGeometry(window.ref(), kPid, target), c.expected) << c.name;
  }
}

TEST_F(WindowMoverTest, TheEnhancedInterfaceIsTurnedOffAroundAMoveOnlyWhenItWasOn) {
  SimWindow& window = open();
  watchSwitch(true);
  mover.applyGeometry(window.ref(), kPid, {0, 30, 500, 400});
  EXPECT_EQ(enhancedWrites(), 2);
  const AXAttributeResult after = sim.attribute(sim.applicationElement(kPid), "AXEnhancedUserInterface");
  ASSERT_NE(after.value.get<bool>(), nullptr);
  EXPECT_TRUE(*after.value.get<bool>());

  switchWrites = 0;
  watchSwitch(false);
  mover.applyGeometry(window.ref(), kPid, {0, 30, 400, 400});
  EXPECT_EQ(enhancedWrites(), 0);

  sim.setAttribute(window.element(), "AXFullScreen", true);
  watchSwitch(true);
  mover.applyGeometry(window.ref(), kPid, {0, 30, 300, 300});
  EXPECT_EQ(enhancedWrites(), 0) << "a full-screen window leaves its application untouched";
}

TEST_F(WindowMoverTest, DesktopLandingIsPolledFiveTimesAtMost) {
  const std::vector<int64_t> desktops = sim.desktops(1);
  ASSERT_EQ(desktops.size(), 2u);
  SimWindow& plain = open();
  auto [landed, took] = land(plain.number, desktops[1]);
  EXPECT_TRUE(landed);
  EXPECT_EQ(took, 60ms);

  SimWindow& stubborn = open();
  sim.setIgnoresDesktopMoves(stubborn.number);
  std::tie(landed, took) = land(stubborn.number, desktops[1]);
  EXPECT_FALSE(landed) << "a window that does not land";
  EXPECT_EQ(took, 300ms);

  std::tie(landed, took) = land(stubborn.number, desktops[1], [&] {
    sim.setIgnoresDesktopMoves(stubborn.number, false);
    sim.moveWindowToDesktop(stubborn.number, desktops[1]);
  });
  EXPECT_TRUE(landed);
  EXPECT_EQ(took, 180ms) << "landed at the third poll";

  sim.setDesktopGroupAvailable(DesktopServer::Group::move, false);
  std::tie(landed, took) = land(plain.number, desktops[0]);
  EXPECT_FALSE(landed);
  EXPECT_EQ(took, 0ms);
}

TEST_F(WindowMoverTest, StepsRunInOrderAndAFailedStepDoesNotStopTheNext) {
  const int64_t other = sim.desktops(1)[1];
  SimWindow& window = open();
  sim.setIgnoresDesktopMoves(window.number);
  const std::vector<MovePlan::Step> steps = {MovePlan::OwnGeometry{{0, 0, 300, 300}},
                                             MovePlan::Geometry{{40, 50, 640, 480}}, MovePlan::Desktop{other}};
  struct Case {
    bool offered;
    Reason lastRefusal;
  };
  for (const Case c : {Case{true, Reason::desktopMoveDidNotLand}, Case{false, Reason::desktopMovesUnavailable}}) {
    std::optional<MoveOutcome> outcome;
    auto task = spawn(loop.main(), [](Task<MoveOutcome> run, std::optional<MoveOutcome>* out) -> Task<void> {
      *out = co_await std::move(run);
    }(runMoveSteps(mover, funnel, sim.ownApplication(), {window.ref(), window.number, kPid, "Editor", false}, steps,
                   {MoveRefusal::of(Reason::onEveryDesktop)}, c.offered),
                                      &outcome));
    loop.runUntil([&] { return outcome.has_value(); }, 2s);
    ASSERT_TRUE(outcome);
    EXPECT_TRUE(outcome->movedDisplay);
    EXPECT_FALSE(outcome->movedDesktop);
    EXPECT_EQ(outcome->refusals,
              (std::vector<MoveRefusal>{MoveRefusal::of(Reason::onEveryDesktop), MoveRefusal::of(Reason::positionNotSettable),
                                        MoveRefusal::of(c.lastRefusal)}));
    EXPECT_EQ(sim.windowFrame(window.number), (Rect{40, 50, 640, 480}));
  }
}

TEST_F(WindowMoverTest, GlobalFrameFlipsAroundThePrimaryScreen) {
  // The default display: 1920 x 1080 at the origin.
  EXPECT_EQ(mover.globalFrame({10, 20, 300, 200}), (Rect{10, 860, 300, 200}));
  EXPECT_EQ(mover.globalFrame(mover.globalFrame({10, 20, 300, 200})), (Rect{10, 20, 300, 200}));
  EXPECT_FALSE(WindowMover::framesMatch({0, 0, 1, 1}, {NAN, 0, 1, 1}, 1.5));
  EXPECT_TRUE(WindowMover::framesMatch({0, 0, 1, 1}, {1.5, -1.5, 2.5, 1}, 1.5));
}

}  // namespace
}  // namespace quorvel
