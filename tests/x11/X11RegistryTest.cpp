#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <mutex>
#include <set>

#include "X11RegistryFixture.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;

class X11RegistryTest : public X11RegistryFixture {};

TEST_F(X11RegistryTest, EveryWindowBecomesACardWithItsApplicationFrameAndDesktop) {
  pid_t alphaPid = 0, xtermPid = 0;
  const uint32_t alpha = launch({"--title", "alpha", "--class", "alpha,AlphaApp", "--geometry", "400x300+100+120"},
                                &alphaPid);
  const std::optional<uint32_t> xterm = session->launchXterm("plain xterm", "XTermTest", &xtermPid);
  const uint32_t away = launch({"--title", "away", "--class", "away,AwayApp", "--desktop", "2"});
  const uint32_t shy = launch({"--title", "shy", "--class", "shy,ShyApp"});
  ASSERT_TRUE(alpha && xterm && away && shy);
  ASSERT_TRUE(actions->minimize(shy));
  ASSERT_TRUE(eventually(shy, [](const X11Window& w) { return w.minimized; }));

  registry().start();
  ASSERT_TRUE(cardsBecome([&] { return cards().size() == 4; })) << cards().size();

  const WindowCard a = *card(alpha);
  EXPECT_EQ(a.title, "alpha");
  EXPECT_EQ(a.appName, "AlphaApp");
  EXPECT_EQ(a.bundleID, "x11.alphaapp");
  EXPECT_EQ(a.pid, alphaPid);
  EXPECT_EQ(a.frame, read(alpha)->frame.toRect());
  EXPECT_EQ(a.state, WindowState::onCurrentSpace);
  EXPECT_EQ(a.spaceIDs, (std::set<int64_t>{1}));
  EXPECT_EQ(a.spaceNumber, std::nullopt);
  EXPECT_TRUE(a.ax) << "the registry found its Accessibility window";

  const WindowCard t = *card(*xterm);
  EXPECT_EQ(t.title, "plain xterm");
  EXPECT_EQ(t.appName, "XTermTest");
  EXPECT_EQ(t.pid, xtermPid);
  EXPECT_EQ(t.state, WindowState::onCurrentSpace);

  // The window manager's third desktop is desktop number 3.
  const WindowCard w = *card(away);
  EXPECT_EQ(w.state, WindowState::onOtherSpace);
  EXPECT_EQ(w.spaceNumber, 3);
  EXPECT_EQ(w.spaceIDs, (std::set<int64_t>{3}));

  EXPECT_EQ(card(shy)->state, WindowState::minimized);
}

// Only what a user switches to becomes a card: a panel's process and a desktop's process are no
// applications of the switcher, not even windowless ones.
TEST_F(X11RegistryTest, PanelsAndDesktopWindowsMakeNoCards) {
  pid_t panelPid = 0, desktopPid = 0;
  const uint32_t alpha = launch({"--title", "alpha", "--class", "alpha,AlphaApp"});
  const uint32_t panel = launch({"--title", "panel", "--class", "trayer,Trayer", "--type", "dock", "--geometry",
                                 "800x24+0+0", "--strut-top", "24"},
                                &panelPid);
  const uint32_t desktop = launch({"--title", "desktop", "--class", "desk,Desk", "--type", "desktop"}, &desktopPid);
  ASSERT_TRUE(alpha && panel && desktop);

  registry().start();
  ASSERT_TRUE(cardsBecome([&] { return card(alpha).has_value(); }));
  ASSERT_TRUE(passNow());
  for (const WindowCard& c : cards()) {
    EXPECT_NE(c.pid, panelPid) << c.appName << " — " << c.title;
    EXPECT_NE(c.pid, desktopPid) << c.appName << " — " << c.title;
  }
  EXPECT_EQ(cards().size(), 1u);
}

TEST_F(X11RegistryTest, ChangesReachTheCardsAtTheNextPass) {
  pid_t closingPid = 0;
  const uint32_t moving = launch({"--title", "moving"});
  const uint32_t shrinking = launch({"--title", "shrinking"});
  const uint32_t closing = launch({"--title", "closing"}, &closingPid);
  ASSERT_TRUE(moving && shrinking && closing);
  registry().start();
  ASSERT_TRUE(cardsBecome([&] { return cards().size() == 3; }));

  // Moved to the window manager's second desktop: on another desktop, numbered 2.
  ASSERT_TRUE(platform->services().desktopServer.moveWindowsToSpace({moving}, 2));
  ASSERT_TRUE(eventually(moving, [](const X11Window& w) { return w.desktop == 1u; }));
  ASSERT_TRUE(actions->minimize(shrinking));
  ASSERT_TRUE(eventually(shrinking, [](const X11Window& w) { return w.minimized; }));
  // The platform's window model hears of both changes through its own connection's events, which on a
  // busy machine can come after the next pass has read the model: the pass they wake has them.
  EXPECT_TRUE(cardsBecome([&] {
    return card(moving)->state == WindowState::onOtherSpace && card(shrinking)->state == WindowState::minimized;
  }));
  EXPECT_EQ(card(moving)->state, WindowState::onOtherSpace);
  EXPECT_EQ(card(moving)->spaceNumber, 2);
  EXPECT_EQ(card(shrinking)->state, WindowState::minimized);

  // A closed window is gone once its application is: the termination itself asks for a pass.
  ASSERT_TRUE(actions->close(closing));
  ASSERT_TRUE(session->waitForExit(closingPid, 5000ms));
  EXPECT_TRUE(cardsBecome([&] { return !card(closing); }));
  EXPECT_EQ(cards().size(), 2u);
}

TEST_F(X11RegistryTest, FocusChangesAreCreditedToTheRecencyOrder) {
  pid_t firstPid = 0, secondPid = 0, thirdPid = 0;
  const uint32_t first = launch({"--title", "first", "--class", "first,FirstApp"}, &firstPid);
  const uint32_t second = launch({"--title", "second", "--class", "second,SecondApp"}, &secondPid);
  const uint32_t third = launch({"--title", "third", "--class", "third,ThirdApp"}, &thirdPid);
  ASSERT_TRUE(first && second && third);
  const std::map<uint32_t, int32_t> pids{{first, firstPid}, {second, secondPid}, {third, thirdPid}};

  // Every credit an activation brings is counted as it reaches the registry: the application's
  // activation (on the main queue) and its focused window (on the Accessibility queue). The test
  // moves on only when both have arrived, so that none is still on its way when the next window
  // comes forward. The counts are shared with the callbacks, which may outlive a test body that
  // stops early.
  struct Arrivals {
    std::mutex mutex;
    std::map<int32_t, int> activations;
    std::map<uint32_t, int> focusChanges;
  };
  auto arrivals = std::make_shared<Arrivals>();
  Subscription token = platform->services().workspace.addObserver(
      Workspace::Event::didActivateApplication, [arrivals](Workspace::Event, const RunningApplication& app) {
        std::lock_guard lock(arrivals->mutex);
        ++arrivals->activations[app.pid];
      });
  registry().start();
  ASSERT_TRUE(cardsBecome([&] {
    const std::set<int32_t> observed = core->focus->installedPids();
    return cards().size() == 3 && observed.contains(firstPid) && observed.contains(secondPid) &&
           observed.contains(thirdPid);
  }));
  std::weak_ptr<WindowRegistry> weak = core->registry;
  core->focus->setSink([arrivals, weak](uint32_t windowID, int32_t pid, Instant noticedAt) {
    if (auto self = weak.lock()) self->focusSink(windowID, pid, noticedAt);
    std::lock_guard lock(arrivals->mutex);
    ++arrivals->focusChanges[windowID];
  });
  auto counts = [&](uint32_t id) {
    std::lock_guard lock(arrivals->mutex);
    return std::make_pair(arrivals->activations[pids.at(id)], arrivals->focusChanges[id]);
  };
  auto bringForward = [&](uint32_t id) {
    const auto [activated, focused] = counts(id);
    return activate(id) && runUntil([&, activated = activated, focused = focused] {
             const auto [nowActivated, nowFocused] = counts(id);
             return nowActivated > activated && nowFocused > focused && !recency().empty() && recency().front() == id;
           });
  };

  for (uint32_t id : {first, second, third}) ASSERT_TRUE(bringForward(id)) << id;
  const Ids order = recency();
  ASSERT_GE(order.size(), 3u);
  EXPECT_EQ(Ids(order.begin(), order.begin() + 3), (Ids{third, second, first}));

  // A summon lists them by visit, the front-most window current and the one before it next.
  const WindowRegistry::SummonList summon = registry().cardsForSummon();
  Ids listed;
  for (const WindowCard& c : summon.cards) listed.push_back(c.id);
  EXPECT_EQ(listed, (Ids{third, second, first}));
  EXPECT_EQ(summon.currentIndex, 0);
  EXPECT_EQ(summon.previousIndex, 1);

  // Back to the first window: it heads the order again, and the list follows the window stack.
  ASSERT_TRUE(bringForward(first));
  const WindowRegistry::SummonList again = registry().cardsForSummon();
  ASSERT_EQ(again.cards.size(), 3u);
  EXPECT_EQ(again.cards[0].id, first);
  EXPECT_EQ(again.cards[1].id, third);
  EXPECT_EQ(again.currentIndex, 0);
  EXPECT_EQ(again.previousIndex, 1);
  EXPECT_EQ(windows->frontToBack(), (Ids{first, third, second}));
  token.cancel();
}

}  // namespace
}  // namespace quorvel
