#include <gtest/gtest.h>
#include <signal.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <memory>
#include <string>

#include "X11RegistryFixture.h"
#include "actions/Activator.h"
#include "tabs/TabActivation.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;
using Manager = X11Session::Manager;

// The registry's checks under window managers of different habits: openbox keeps its stacking in
// step with the focus, IceWM updates it one change late, i3 tiles and raises nothing. Focus and
// recency must follow the active window under all of them. One session per manager, every check in
// it, so that each manager costs a few seconds.
class X11WindowManagersTest : public X11RegistryFixture, public ::testing::WithParamInterface<Manager> {
 protected:
  X11Session::Options sessionOptions() const override { return X11Session::Options{.manager = GetParam()}; }

  void SetUp() override {
    X11RegistryFixture::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    tabs = std::make_unique<TabActivation>(platform->services().accessibility, core->walker);
    activator = std::make_unique<Activator>(
        ActivatorServices{*runtime, platform->services(), core->funnel, core->settings, *tabs, core->hooks});
  }
  void TearDown() override {
    activator.reset();
    tabs.reset();
    X11RegistryFixture::TearDown();
  }

  uint32_t activeWindow() { return desktops->activeWindow().value_or(0); }
  // Activates a window as a pager would and waits until the manager has made it the active one.
  bool bringForward(uint32_t id) { return activate(id); }
  // The recency order credits the window, and a pass that follows keeps it there.
  bool credited(uint32_t id) {
    if (!runUntil([&] { return !recency().empty() && recency().front() == id; }, 10000ms)) return false;
    return passNow() && !recency().empty() && recency().front() == id;
  }
  std::string describe(const Ids& ids) {
    std::string text;
    for (uint32_t id : ids) text += std::to_string(id) + " ";
    return text;
  }
  bool switchDesktop(uint32_t desktop) {
    return session->runTool({"xdotool", "set_desktop", std::to_string(desktop)});
  }

  std::unique_ptr<TabActivation> tabs;
  std::unique_ptr<Activator> activator;
};

TEST_P(X11WindowManagersTest, TheRegistryFollowsTheActiveWindow) {
  pid_t multiPid = 0, soloPid = 0;
  // One application with two windows (closing one leaves the other), and one with a single window.
  const uint32_t first = launch({"--title", "first", "--class", "multi,MultiApp", "--windows", "2", "--close-one"},
                                &multiPid);
  const uint32_t solo = launch({"--title", "solo", "--class", "solo,SoloApp"}, &soloPid);
  ASSERT_TRUE(first && solo);
  uint32_t second = 0;
  ASSERT_TRUE(X11Session::waitUntil([&] {
    for (const X11Window& w : windows->readAll()) {
      if (w.title == "first 2") second = w.id;
    }
    return second != 0;
  }));

  // The list: every window a card, with its application, and a frame with the manager's decorations.
  registry().start();
  ASSERT_TRUE(cardsBecome([&] {
    const std::set<int32_t> observed = core->focus->installedPids();
    return cards().size() == 3 && observed.contains(multiPid) && observed.contains(soloPid);
  })) << cards().size();
  for (uint32_t id : {first, second, solo}) {
    const std::optional<WindowCard> c = card(id);
    ASSERT_TRUE(c) << id;
    EXPECT_EQ(c->appName, id == solo ? "SoloApp" : "MultiApp");
    EXPECT_EQ(c->state, WindowState::onCurrentSpace);
    // Every one of these managers draws a title bar: the frame is taller than the client (i3 says
    // so by its frame window alone).
    auto client = x().reply(xcb_get_geometry_reply, xcb_get_geometry(x().xcb(), id));
    ASSERT_TRUE(client);
    EXPECT_GE(c->frame.width, client->width);
    EXPECT_GT(c->frame.height, client->height);
  }

  // Focus: each activation is credited, also when the manager leaves the stacking
  // as it was, and when the application's other window stands above in its stacking list.
  for (uint32_t id : {first, solo, second}) {
    ASSERT_TRUE(bringForward(id)) << id;
    EXPECT_TRUE(credited(id)) << "expected " << id << " first, got " << describe(recency());
  }

  // The order, and the summon's preselected window is the active one.
  const Ids order = recency();
  ASSERT_GE(order.size(), 3u);
  EXPECT_EQ(Ids(order.begin(), order.begin() + 3), (Ids{second, solo, first}));
  WindowRegistry::SummonList summon = registry().cardsForSummon();
  Ids listed;
  for (const WindowCard& c : summon.cards) listed.push_back(c.id);
  EXPECT_EQ(listed, (Ids{second, solo, first}));
  ASSERT_LT(summon.currentIndex, static_cast<int>(summon.cards.size()));
  EXPECT_EQ(summon.cards[summon.currentIndex].id, activeWindow());
  EXPECT_EQ(summon.cards[summon.previousIndex].id, solo);

  // A window on another desktop (minimized as well, where the manager can minimize) comes forward
  // through the activator, and it is the window credited, not its application's other window.
  const bool minimizes = GetParam() != Manager::i3;
  if (minimizes) {
    ASSERT_TRUE(actions->minimize(first));
    ASSERT_TRUE(eventually(first, [](const X11Window& w) { return w.minimized; }));
  }
  ASSERT_TRUE(session->moveToDesktop(first, 1));
  ASSERT_TRUE(session->moveToDesktop(second, 1));
  ASSERT_TRUE(eventually(first, [](const X11Window& w) { return w.desktop == 1u; }));
  ASSERT_TRUE(eventually(second, [](const X11Window& w) { return w.desktop == 1u; }));
  ASSERT_TRUE(bringForward(solo));
  ASSERT_TRUE(passNow());
  ASSERT_TRUE(card(first));
  EXPECT_EQ(card(first)->state, minimizes ? WindowState::minimized : WindowState::onOtherSpace);
  activator->pick(*card(first));
  EXPECT_TRUE(runUntil([&] { return activeWindow() == first; }, 5000ms)) << "active: " << activeWindow();
  EXPECT_EQ(desktops->currentDesktop(), 1u);
  EXPECT_TRUE(credited(first)) << "expected " << first << " first, got " << describe(recency());
  EXPECT_TRUE(cardsBecome([&] { return card(first) && card(first)->state == WindowState::onCurrentSpace; }));

  // Cards stay whole across desktop switches, whatever moment a pass reads.
  for (uint32_t desktop : {0u, 1u, 0u, 1u, 0u, 1u, 0u, 1u}) {
    ASSERT_TRUE(switchDesktop(desktop));
    for (int i = 0; i < 3; ++i) {
      ASSERT_TRUE(passNow());
      const std::vector<WindowCard> now = cards();
      EXPECT_EQ(now.size(), 3u) << "desktop " << desktop << ", pass " << i;
      EXPECT_TRUE(std::none_of(now.begin(), now.end(),
                               [](const WindowCard& c) { return c.state == WindowState::windowlessApp; }))
          << "desktop " << desktop << ", pass " << i;
    }
  }

  // A closed window leaves the cards, while its application keeps another.
  ASSERT_TRUE(actions->close(second));
  EXPECT_TRUE(runUntil([&] { return !card(second); }, 10000ms));
  EXPECT_TRUE(card(first));
  EXPECT_EQ(cards().size(), 2u);
}

// One process per window, as xterm runs: X gives each new client the lowest free connection slot
// and window ids come from it, so the window opened after a client has gone gets a lower id than
// older ones. The fixed order keeps the order the windows opened in.
TEST_P(X11WindowManagersTest, TheFixedOrderKeepsTheOrderTheWindowsOpenedIn) {
  core->store.setMany({{AppSettings::Key::windowOrder, "fixed"}, {AppSettings::Key::groupByApp, true}});
  auto open = [&](const std::string& title, pid_t* pid = nullptr) {
    return launch({"--title", title, "--class", "term,Term"}, pid);
  };
  pid_t closedPid = 0;
  const uint32_t a = open("A");
  const uint32_t b = open("B", &closedPid);
  const uint32_t c = open("C");
  const uint32_t d = open("D");
  ASSERT_TRUE(a && b && c && d);
  registry().start();
  ASSERT_TRUE(cardsBecome([&] { return cards().size() == 4; })) << cards().size();
  ASSERT_EQ(::kill(closedPid, SIGTERM), 0);
  ASSERT_TRUE(session->waitForExit(closedPid, X11Session::kLaunchWait));
  ASSERT_TRUE(cardsBecome([&] { return !card(b); }));
  const uint32_t e = open("E");
  ASSERT_TRUE(e);
  ASSERT_LT(e, c) << "E took the connection slot B left";
  ASSERT_TRUE(runUntil([&] { return activeWindow() == e; }, 10000ms)) << "new windows are focused";
  ASSERT_TRUE(cardsBecome([&] { return card(e).has_value(); }));
  ASSERT_TRUE(passNow());

  const WindowRegistry::SummonList summon = registry().cardsForSummon();
  Ids listed;
  for (const WindowCard& w : summon.cards) {
    listed.push_back(w.id);
    EXPECT_EQ(w.orderingID, w.id) << "a window id stays where one is meant (pictures, tab hosts)";
  }
  EXPECT_EQ(listed, (Ids{a, c, d, e})) << describe(listed);
  EXPECT_EQ(summon.cards[summon.currentIndex].id, e);
}

INSTANTIATE_TEST_SUITE_P(Managers, X11WindowManagersTest,
                         ::testing::Values(Manager::openbox, Manager::icewm, Manager::i3),
                         [](const ::testing::TestParamInfo<Manager>& info) {
                           return std::string(X11Session::name(info.param));
                         });

}  // namespace
}  // namespace quorvel
