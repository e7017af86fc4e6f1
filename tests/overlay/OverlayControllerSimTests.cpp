// The overlay controller over the real window registry and window actions on the simulated desktop,
// with the scene, the pictures, the textures and the overlay's screens faked.
#include <gtest/gtest.h>

#include "actions/Activator.h"
#include "ax/AXFunnel.h"
#include "base/LogHub.h"
#include "overlay/ControllerFakes.h"
#include "overlay/controller/RegistryCardSource.h"
#include "overlay/controller/SystemWindowActions.h"
#include "platform/sim/SimApp.h"
#include "platform/sim/SimDesktop.h"
#include "platform/sim/SimWindow.h"
#include "tabs/TabActivation.h"
#include "tabs/TabAdapter.h"
#include "tabs/TabWalker.h"
#include "windows/ActivatorHooks.h"
#include "windows/ChromeWindowCensus.h"
#include "windows/FocusObserver.h"
#include "windows/RegistryServices.h"
#include "windows/WindowRegistry.h"

namespace quorvel {
namespace {

struct SimRig {
  ManualLoop loop;
  SimDesktop sim{loop, SimDesktopOptions{}};
  DefaultsStore store;
  AppSettings settings{store};
  AXFunnel funnel{loop};
  std::shared_ptr<FocusObserver> focus = FocusObserver::create(loop, sim.accessibility(), funnel);
  TabAdapter::NudgeRecord nudges{sim.accessibility(), loop.clock()};
  TabWalker walker{sim.accessibility(), nudges};
  TabActivation tabs{sim.accessibility(), walker};
  ChromeWindowCensus census;
  ActivatorHooks hooks;
  std::shared_ptr<WindowRegistry> registry;
  std::unique_ptr<Activator> activator;
  std::unique_ptr<RegistryCardSource> cards;
  std::unique_ptr<SystemWindowActions> windowActions;
  SceneWake wake{loop.clock()};
  FixedTextMetrics metrics;
  FakePictures pictures;
  FakeTextures textures;
  FakeDesktop desktop;
  std::vector<FakeScene*> scenes;
  std::unique_ptr<OverlayController> controller;

  SimRig() {
    LogHub::shared().setStandardErrorEnabled(false);
    settings.registerDefaults();
    store.setMany({{AppSettings::Key::windowOrder, "recent"}, {AppSettings::Key::minimizedDisplay, "show"}});
    registry = WindowRegistry::create(
        RegistryServices{loop, sim.services(), funnel, settings, *focus, walker, nudges, census, hooks});
    activator = std::make_unique<Activator>(ActivatorServices{loop, sim.services(), funnel, settings, tabs, hooks});
    cards = std::make_unique<RegistryCardSource>(registry, sim.services().windowServer, loop.main());
    windowActions = std::make_unique<SystemWindowActions>(SystemWindowActions::Services{
        loop.main(), *activator, sim.services().ownApplication, sim.accessibility(), funnel, [] {}});
    desktop.screenList = {ScreenInfo{1u, "a", {0, 0, 1440, 900}, {0, 0, 1440, 875}, "HDMI-1"}};
    desktop.pointer = Point{100, 100};
    OverlayContentView::Services content{metrics, loop.main(), settings, [] { return false; },
                                         [](int, int) { return false; }, [] { return false; },
                                         [] { return std::optional<std::string>(); }, [](bool) {}, [] { return true; }};
    controller = std::make_unique<OverlayController>(OverlayController::Services{
        loop.main(), settings, wake, *cards, pictures, textures, desktop, content,
        [this](OverlayContentView&, OverlayWindow&, std::function<void(int, FocusChangeSource)>) {
          auto scene = std::make_unique<FakeScene>(loop.main(), wake, std::make_shared<FakeScene::Log>());
          scenes.push_back(scene.get());
          return scene;
        },
        [this](const WindowCard& card) { activator->pick(card); }, {}, windowActions.get(), [] {}});
  }
  ~SimRig() {
    controller.reset();
    loop.runUntilIdle();
    registry.reset();
    loop.runUntilIdle();
    LogHub::shared().setStandardErrorEnabled(true);
  }

  void pass() {
    auto task = spawn(loop.pool(), registry->performRefresh());
    loop.runUntilIdle();
    ASSERT_TRUE(task.isDone());
  }
  // The window's card as the switcher holds it, and the state its scene draws (and badges) for it.
  struct Shown {
    int index = -1;
    WindowState state = WindowState::onCurrentSpace;
    WindowState drawn = WindowState::onCurrentSpace;
  };
  Shown shown(uint32_t window) {
    Shown found;
    const auto& presented = controller->presentedCards();
    for (size_t i = 0; i < presented.size(); ++i) {
      if (presented[i].id != window) continue;
      found.index = static_cast<int>(i);
      found.state = presented[i].state;
    }
    found.drawn = scenes.back()->state().withLock([&](SceneState::Storage& s) {
      for (const CardSnapshot& card : *s.cards)
        if (card.id == window) return card.status.state;
      return WindowState::browserTab;  // not drawn
    });
    return found;
  }
};

// M on a minimized window's card restores the window, and the card stops saying minimized at once,
// while the switcher stays up; M again minimizes it, and the card says so at once. The refresh that
// follows agrees with both.
TEST(OverlayControllerOnTheSimulatedDesktop, MinimizeAndRestoreShowTheNewStateAtOnce) {
  SimRig rig;
  SimApp& app = rig.sim.launchApp({.pid = 11, .bundleID = "org.a", .name = "Alpha"});
  app.openWindow({.title = "Front"}).focus();
  const uint32_t tucked = app.openWindow({.title = "Tucked", .minimized = true}).number;
  rig.pass();
  rig.controller->present(true, AppSettings::HotkeyScope::allWindows);
  rig.loop.runUntilIdle();
  ASSERT_TRUE(rig.controller->isVisible());
  ASSERT_GE(rig.shown(tucked).index, 0);
  EXPECT_EQ(rig.shown(tucked).state, WindowState::minimized);

  struct Step {
    bool minimizedAfter;
    WindowState shown;
  };
  for (const Step step : {Step{false, WindowState::onCurrentSpace}, Step{true, WindowState::minimized}}) {
    rig.controller->performWindowAction(CardAction::minimize, rig.shown(tucked).index);
    rig.loop.runUntilIdle();  // the action is carried out; no time passes
    EXPECT_EQ(rig.sim.isMinimized(tucked), step.minimizedAfter);
    EXPECT_EQ(rig.shown(tucked).state, step.shown);
    EXPECT_EQ(rig.shown(tucked).drawn, step.shown);
    // 1.5 s later the registry is asked again: it finds what the card already shows.
    const Instant now = rig.loop.clock().now();
    rig.loop.advance(fromSeconds(OverlayController::kActionFollowUpDelay));
    rig.loop.runUntilIdle();
    ASSERT_GE(rig.loop.clock().now(), now);
    EXPECT_EQ(rig.shown(tucked).state, step.shown);
    EXPECT_EQ(rig.shown(tucked).drawn, step.shown);
    EXPECT_TRUE(rig.controller->isVisible());
  }
}

// Alt, Tab (and Shift+Tab steps), Space, a query, Escape, the release of Alt: a query that left no
// card gives the selection back to the card it found selected, so the release brings that window
// forward (with no step, the window in front stays in front); a query that matched keeps its best
// card. The cards stand in the registered order, the order the windows opened.
TEST(OverlayControllerOnTheSimulatedDesktop, LeavingASearchThatShowedNoCardKeepsTheCardSelectedBeforeIt) {
  struct Case {
    int steps;          // Shift+Tab presses before Space
    const char* query;
    size_t committed;   // the window that comes forward, in the order they opened
  };
  for (const Case& c : {Case{0, "zzzz", 2}, Case{1, "zzzz", 1}, Case{0, "first", 0}}) {
    SCOPED_TRACE(std::string(c.query) + " after " + std::to_string(c.steps) + " steps");
    SimRig rig;
    rig.store.set(AppSettings::Key::windowOrder, std::string("fixed"));
    SimApp& terms = rig.sim.launchApp({.pid = 11, .bundleID = "org.xterm", .name = "XTerm", .activate = true});
    std::vector<uint32_t> windows;
    for (const char* title : {"first xterm", "zulu xterm", "third xterm"}) {
      SimWindow& window = terms.openWindow({.title = title});
      ASSERT_TRUE(window.focus());
      windows.push_back(window.number);
    }
    rig.pass();
    rig.controller->present(true, AppSettings::HotkeyScope::allWindows);
    rig.loop.runUntilIdle();
    ASSERT_TRUE(rig.controller->isVisible());
    ASSERT_EQ(rig.shown(windows[2]).index, 2) << "the window in front is not the first card";
    for (int i = 0; i < c.steps; ++i) rig.controller->stepSelection(-1);
    OverlayContentView& view = *rig.controller->content(*rig.controller->activeDisplay());
    view.keyDown({49, 0, " "});  // Space
    for (const char letter : std::string(c.query)) view.keyDown({6, 0, std::string(1, letter)});
    view.keyDown({53, 0, std::nullopt});  // Escape: the search closes, the switcher stays
    rig.loop.runUntilIdle();
    ASSERT_TRUE(rig.controller->isVisible());
    ASSERT_FALSE(rig.controller->isSearching());
    rig.controller->onHotkeyRelease();
    rig.loop.runUntilIdle();
    EXPECT_EQ(rig.sim.focusedWindow(), std::optional(windows[c.committed]));
  }
}

}  // namespace
}  // namespace quorvel
