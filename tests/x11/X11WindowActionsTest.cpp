#include "platform/x11/X11WindowActions.h"

#include <gtest/gtest.h>

#include "X11SessionTest.h"

namespace quorvel {
namespace {

using X11WindowActionsTest = X11SessionTest;

TEST_F(X11WindowActionsTest, MovingBetweenDesktopsCountsDesktopsFromZero) {
  const uint32_t id = launch({"--title", "mover"});
  ASSERT_NE(id, 0u);
  EXPECT_EQ(desktops->numberOfDesktops(), 4u);
  EXPECT_EQ(desktops->currentDesktop(), 0u);
  EXPECT_EQ(desktops->desktopNames().size(), 4u);

  // The second desktop is desktop 1; the window leaves the screen.
  ASSERT_TRUE(actions->moveToDesktop(id, 1));
  EXPECT_TRUE(eventually(id, [](const X11Window& w) { return w.desktop == 1u && !w.isViewable; }));

  // On every desktop: no single desktop, and on screen again.
  ASSERT_TRUE(actions->moveToDesktop(id, X11WindowActions::kAllDesktops));
  EXPECT_TRUE(eventually(id, [](const X11Window& w) { return w.onAllDesktops && !w.desktop && w.isViewable; }));

  // A desktop the window manager does not have is refused.
  EXPECT_FALSE(actions->moveToDesktop(id, 4));
  auto w = read(id);
  ASSERT_TRUE(w);
  EXPECT_TRUE(w->onAllDesktops);
}

TEST_F(X11WindowActionsTest, ActivatingAWindowOnAnotherDesktopSwitchesThere) {
  const uint32_t id = launch({"--title", "elsewhere", "--desktop", "2"});
  ASSERT_NE(id, 0u);
  ASSERT_TRUE(eventually(id, [](const X11Window& w) { return w.desktop == 2u; }));
  EXPECT_EQ(desktops->currentDesktop(), 0u);

  ASSERT_TRUE(actions->activate(id));
  EXPECT_TRUE(X11Session::waitUntil([&] { return desktops->currentDesktop() == 2u; }));
  EXPECT_TRUE(X11Session::waitUntil([&] { return desktops->activeWindow() == id; }));
  EXPECT_TRUE(read(id)->isViewable);
}

TEST_F(X11WindowActionsTest, AnActivationLeavesAfterOneRoundTrip) {
  pid_t pid = 0;
  const uint32_t first = launch({"--title", "first"});
  const uint32_t second = launch({"--title", "second"}, &pid);
  ASSERT_TRUE(first && second);
  // The first activation also makes the window that server time stamps come from.
  ASSERT_TRUE(actions->activate(first));
  ASSERT_TRUE(X11Session::waitUntil([&] { return desktops->activeWindow() == first; }));

  const uint64_t before = x().roundTripCount();
  ASSERT_TRUE(actions->activate(second));
  // One for everything the request needs, one for the check of the request sent.
  EXPECT_EQ(x().roundTripCount() - before, 2u);
  EXPECT_TRUE(X11Session::waitUntil([&] { return desktops->activeWindow() == second; }));

  // A window that is gone is told in the same one round trip, and nothing is sent.
  ASSERT_TRUE(actions->close(second));
  ASSERT_TRUE(session->waitForExit(pid, std::chrono::milliseconds(5000)));
  const uint64_t gone = x().roundTripCount();
  EXPECT_FALSE(actions->activate(second));
  EXPECT_EQ(x().roundTripCount() - gone, 1u);
}

TEST_F(X11WindowActionsTest, MinimizedWindowsReadHiddenUntilActivated) {
  const uint32_t id = launch({"--title", "shy"});
  ASSERT_NE(id, 0u);
  ASSERT_TRUE(actions->minimize(id));
  EXPECT_TRUE(eventually(id, [](const X11Window& w) { return w.minimized && !w.isViewable; }));
  // Still listed, still on its desktop.
  EXPECT_EQ(read(id)->desktop, 0u);

  ASSERT_TRUE(actions->activate(id));
  EXPECT_TRUE(eventually(id, [](const X11Window& w) { return !w.minimized && w.isViewable; }));
  EXPECT_TRUE(X11Session::waitUntil([&] { return desktops->activeWindow() == id; }));
}

TEST_F(X11WindowActionsTest, ClosedWindowsDisappear) {
  pid_t pid = 0;
  const uint32_t closing = launch({"--title", "closing"}, &pid);
  const uint32_t staying = launch({"--title", "staying"});
  ASSERT_TRUE(closing && staying);

  ASSERT_TRUE(actions->close(closing));
  EXPECT_TRUE(session->waitForExit(pid, std::chrono::milliseconds(5000)));
  EXPECT_TRUE(X11Session::waitUntil([&] {
    const auto list = windows->clientList();
    return std::find(list.begin(), list.end(), closing) == list.end();
  }));
  EXPECT_FALSE(read(closing).has_value());
  const std::vector<X11Window> all = windows->readAll();
  ASSERT_EQ(all.size(), 1u);
  EXPECT_EQ(all[0].id, staying);
}

TEST_F(X11WindowActionsTest, ActionsOnAWindowThatIsGoneFail) {
  pid_t pid = 0;
  const uint32_t id = launch({"--title", "brief"}, &pid);
  ASSERT_NE(id, 0u);
  ASSERT_TRUE(actions->close(id));
  ASSERT_TRUE(session->waitForExit(pid, std::chrono::milliseconds(5000)));

  EXPECT_FALSE(actions->activate(id));
  EXPECT_FALSE(actions->minimize(id));
  EXPECT_FALSE(actions->close(id));
  EXPECT_FALSE(actions->moveToDesktop(id, 1));
  EXPECT_FALSE(actions->activate(0));
  EXPECT_GT(x().absorbedErrorCount(), 0u);
}

}  // namespace
}  // namespace quorvel
