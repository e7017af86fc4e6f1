#include <gtest/gtest.h>

#include "actions/ActivatorFixture.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;

// Closes a window from a task on the main queue, as the overlay does, and notes where it ended.
Task<void> closeFromMain(const WindowActions& actions, AXHandleRef window, Executor& main, bool* endedOnMain,
                         bool* done) {
  co_await actions.close(std::move(window));
  *endedOnMain = main.isCurrent();
  *done = true;
}

class WindowActionsTest : public ActivatorFixture {
 protected:
  // Gives the window a close button whose press closes it, as every ordinary window has.
  SimElementId addCloseButton(SimWindow& window) {
    const SimElementId button = window.addElement(SimElementSpec{
        .role = "AXButton",
        .subrole = "AXCloseButton",
        .actions = {{"AXPress", [this, number = window.number](SimElementId) {
                       pressedAt = loop.clock().now();
                       sim.closeWindow(number);
                       return AXError::success;
                     }}}});
    sim.setAttribute(window.element(), "AXCloseButton", sim.ref(button));
    return button;
  }
  // Makes the window full screen; writing "AXFullScreen" false takes it out, noting the time.
  void makeFullScreen(SimWindow& window) {
    sim.setAttribute(window.element(), "AXFullScreen", true);
    sim.onAttributeSet(window.element(), "AXFullScreen", [this](SimElementId, const AXValue& value) {
      if (value.get<bool>() && !*value.get<bool>()) leftFullScreenAt = loop.clock().now();
    });
  }
  TaskHandle<void> close(SimWindow& window) {
    return spawn(loop.main(), closeFromMain(activator.windowActions(), handle(window), loop.main(), &endedOnMain,
                                            &closeDone));
  }

  std::optional<Instant> pressedAt;
  std::optional<Instant> leftFullScreenAt;
  bool endedOnMain = false;
  bool closeDone = false;
};

TEST_F(WindowActionsTest, CloseDoesNotWaitForAWindowThatIsNotFullScreen) {
  SimApp& app = editor();
  SimWindow& window = openWindow(app, "Plain");
  addCloseButton(window);

  const Instant start = loop.clock().now();
  close(window);
  loop.runUntilIdle();
  EXPECT_TRUE(closeDone);
  EXPECT_TRUE(endedOnMain);
  EXPECT_FALSE(window.exists());
  EXPECT_EQ(pressedAt, start);
  EXPECT_FALSE(leftFullScreenAt);
  EXPECT_TRUE(activatorLog().empty());
}

TEST_F(WindowActionsTest, CloseTakesAFullScreenWindowOutFirstAndWaitsOneSecondWithoutHoldingTheQueue) {
  SimApp& app = editor();
  SimWindow& window = openWindow(app, "Film");
  addCloseButton(window);
  makeFullScreen(window);

  const Instant start = loop.clock().now();
  close(window);
  loop.runUntilIdle();
  EXPECT_EQ(leftFullScreenAt, start);
  EXPECT_FALSE(pressedAt);

  // The Accessibility queue serves other work during the wait.
  bool otherJobRan = false;
  funnel.queue().post([&] { otherJobRan = true; });
  loop.runUntilIdle();
  EXPECT_TRUE(otherJobRan);

  loop.advance(999ms);
  EXPECT_FALSE(pressedAt);
  EXPECT_TRUE(window.exists());
  loop.advance(1ms);
  EXPECT_EQ(pressedAt, start + 1s);
  EXPECT_FALSE(window.exists());
  EXPECT_TRUE(closeDone);
  EXPECT_TRUE(endedOnMain);
}

TEST_F(WindowActionsTest, CloseOfAWindowWithoutACloseButtonDoesNothing) {
  SimApp& app = editor();
  SimWindow& window = openWindow(app, "Panel");

  close(window);
  loop.runUntilIdle();
  EXPECT_TRUE(closeDone);
  EXPECT_TRUE(window.exists());
  EXPECT_FLOAT_EQ(sim.messagingTimeout(window.element()), 0.5f);
  EXPECT_TRUE(logs.messages().empty());

  // Nor one whose button attribute is not an element, nor one that is gone.
  sim.setAttribute(window.element(), "AXCloseButton", std::string("close"));
  closeDone = false;
  close(window);
  loop.runUntilIdle();
  EXPECT_TRUE(closeDone);
  EXPECT_TRUE(window.exists());

  const AXHandleRef stale = handle(window);
  window.close();
  closeDone = false;
  spawn(loop.main(), closeFromMain(activator.windowActions(), stale, loop.main(), &endedOnMain, &closeDone));
  loop.runUntilIdle();
  EXPECT_TRUE(closeDone);
}

TEST_F(WindowActionsTest, BoolAttributesReadFalseUnlessTheyAreTrueBools) {
  SimApp& app = editor();
  SimWindow& window = openWindow(app, "Flags");
  const WindowActions& actions = activator.windowActions();
  const AXElementRef element = window.ref();
  auto read = [&](const std::string& name) { return axJob([&] { return actions.boolAttribute(element, name); }); };

  EXPECT_FALSE(read("AXFullScreen"));  // absent
  sim.setAttribute(window.element(), "AXFullScreen", int64_t{1});
  EXPECT_FALSE(read("AXFullScreen"));  // not a Bool
  sim.setAttribute(window.element(), "AXFullScreen", true);
  EXPECT_TRUE(read("AXFullScreen"));
  EXPECT_TRUE(axJob([&] { return actions.isFullScreen(element); }));
  sim.failAttribute(window.element(), "AXFullScreen", AXError::cannotComplete, 1);
  EXPECT_FALSE(read("AXFullScreen"));  // unreadable
  EXPECT_FALSE(axJob([&] { return actions.boolAttribute(nullptr, "AXMinimized"); }));
}

TEST_F(WindowActionsTest, RaiseSucceedsExactlyWhenTheRaiseActionDoes) {
  SimApp& app = editor();
  SimWindow& window = openWindow(app, "Target");
  const WindowActions& actions = activator.windowActions();
  const AXHandleRef target = handle(window);

  sim.failSetAttribute(window.element(), "AXMain", AXError::cannotComplete, 1);
  EXPECT_TRUE(axJob([&] { return actions.raise(target, false); }));
  EXPECT_TRUE(activatorLog().empty());

  sim.refuseAction(window.element(), "AXRaise", AXError::actionUnsupported, 1);
  EXPECT_FALSE(axJob([&] { return actions.raise(target, false); }));
  EXPECT_EQ(activatorLog(), (std::vector<std::string>{"AX raise refused: raise -25206, main 0"}));
  EXPECT_FALSE(axJob([&] { return actions.raise(nullptr, false); }));
}

}  // namespace
}  // namespace quorvel
