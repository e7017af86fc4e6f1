// The overlay controller on the real X11 backends: the platform, the window registry, the activator
// and the overlay window, in a private session with openbox. The scene draws nothing (no GPU here);
// the pictures and chrome textures are quiet stand-ins.
#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include "ActiveWindowLog.h"
#include "X11PlatformTest.h"
#include "actions/Activator.h"
#include "ax/AXFunnel.h"
#include "base/DefaultsStore.h"
#include "overlay/FixedTextMetrics.h"
#include "overlay/controller/OverlayController.h"
#include "overlay/controller/PlatformOverlayDesktop.h"
#include "overlay/controller/RegistryCardSource.h"
#include "overlay/controller/RendererScene.h"
#include "overlay/controller/SystemWindowActions.h"
#include "overlay/x11/X11OverlayWindow.h"
#include "settings/AppSettings.h"
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

using namespace std::chrono_literals;

class QuietPictures final : public OverlayPictureSource {
 public:
  void beginPresentation() override {}
  void endPresentation() override {}
  void flushRetired() override {}
  std::function<void()> captureStills(const std::vector<WindowCard>&, const std::unordered_map<uint32_t, uint32_t>&,
                                      const std::unordered_map<uint32_t, uint64_t>&,
                                      std::function<void()> done) override {
    done();
    return nullptr;
  }
  void refreshCaptures(const std::vector<WindowCard>&, const std::unordered_map<uint32_t, uint32_t>&,
                       const std::unordered_map<uint32_t, uint64_t>&) override {}
  uint64_t nextLiveSequence() override { return ++sequence; }
  void startLiveHero(uint64_t, uint32_t, std::optional<uint32_t>, std::function<void(bool)> started) override {
    started(false);
  }
  void stopLiveHero(uint64_t) override {}
  std::optional<uint32_t> liveWindowID() override { return std::nullopt; }
  uint64_t sequence = 0;
};

class QuietTextures final : public OverlayChromeTextures {
 public:
  void setPlateOpacity(double) override {}
  void prepareIcons(const std::vector<IconRequest>&) override {}
  void prepareLabels(const std::vector<CardLabel>&) override {}
  void prepareTitles(const std::vector<CardTitle>&) override {}
  void sweepIcons() override {}
  void pruneSiteIcons(const std::unordered_set<uint32_t>&, bool) override {}
  std::optional<std::string> tabSite(uint32_t) override { return std::nullopt; }
  void requestSiteIcons(const std::vector<WindowCard>&, bool) override {}
  CardRenderer::Providers providers() override { return {}; }
};

class X11OverlayControllerTest : public X11PlatformTest {
 protected:
  void SetUp() override {
    X11PlatformTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    settings.registerDefaults();
    store.setMany({{AppSettings::Key::windowOrder, "recent"},
                   {AppSettings::Key::groupByApp, false},
                   {AppSettings::Key::tabsDisplay, "off"}});
    PlatformServices services = platform->services();
    funnel = std::make_unique<AXFunnel>(*runtime);
    focus = FocusObserver::create(*runtime, services.accessibility, *funnel);
    nudges = std::make_unique<TabAdapter::NudgeRecord>(services.accessibility, runtime->clock());
    walker = std::make_unique<TabWalker>(services.accessibility, *nudges);
    tabs = std::make_unique<TabActivation>(services.accessibility, *walker);
    registry = WindowRegistry::create(
        RegistryServices{*runtime, services, *funnel, settings, *focus, *walker, *nudges, census, hooks});
    activator = std::make_unique<Activator>(ActivatorServices{*runtime, services, *funnel, settings, *tabs, hooks});
    cards = std::make_unique<RegistryCardSource>(registry, services.windowServer, runtime->main());
    PlatformOverlayDesktop::Hooks desktopHooks;
    desktopHooks.makeWindow = [this](const ScreenInfo& screen) -> std::unique_ptr<OverlayWindow> {
      // One monitor, so the display service's frame is the monitor's X rectangle.
      std::string error;
      auto window = X11OverlayWindow::open(session->display(), screen.frame, runtime->main(), &error);
      EXPECT_TRUE(window) << error;
      if (window) overlayWindows.push_back(window.get());
      return window;
    };
    desktop = std::make_unique<PlatformOverlayDesktop>(services, desktopHooks);
    OverlayContentView::Services content{metrics, runtime->main(), settings, [] { return false; },
                                         [](int, int) { return false; }, [] { return false; },
                                         [] { return std::optional<std::string>(); }, [](bool) {}, [] { return true; }};
    wake = std::make_unique<SceneWake>(runtime->clock());
    windowActions = std::make_unique<SystemWindowActions>(SystemWindowActions::Services{
        runtime->main(), *activator, services.ownApplication, services.accessibility, *funnel, [] {}});
    controller = std::make_unique<OverlayController>(OverlayController::Services{
        runtime->main(), settings, *wake, *cards, pictures, textures, *desktop, content,
        [this](OverlayContentView&, OverlayWindow&, std::function<void(int, FocusChangeSource)> onFocus) {
          return RendererScene::make(nullptr, nullptr, {}, std::move(onFocus),
                                     SceneRenderer::Services{runtime->main(), runtime->clock(), *wake, settings, {}});
        },
        [this](const WindowCard& card) { activator->pick(card); }, {}, windowActions.get()});
  }
  void TearDown() override {
    // Work still under way ends before what it uses goes: a card's close goes to the Accessibility
    // queue and reports back on the main queue, so one job through both queues after it.
    if (funnel) {
      bool drained = false;
      funnel->queue().post([&] { runtime->main().post([&] { drained = true; }); });
      EXPECT_TRUE(runUntil([&] { return drained; }, 10000ms));
    }
    controller.reset();
    windowActions.reset();
    activator.reset();
    cards.reset();
    if (registry) {
      std::weak_ptr<WindowRegistry> weak = registry;
      registry.reset();
      EXPECT_TRUE(runUntil([&] { return weak.expired(); }, 30000ms)) << "the registry outlived its test";
    }
    tabs.reset();
    walker.reset();
    nudges.reset();
    focus.reset();
    funnel.reset();
    X11PlatformTest::TearDown();
  }

  // Runs `job` on the main queue (where the controller and the registry live) and waits for it.
  void onMain(const std::function<void()>& job) {
    bool done = false;
    runtime->main().post([&] {
      job();
      done = true;
    });
    ASSERT_TRUE(runUntil([&] { return done; }));
  }
  bool mapped(uint32_t window) {
    auto attributes = x().reply(xcb_get_window_attributes_reply, xcb_get_window_attributes(x().xcb(), window));
    return attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
  }
  int selected() {
    int index = -1;
    onMain([&] {
      OverlayScene* scene = controller->renderer(*controller->activeDisplay());
      index = scene->state().withLock([](SceneState::Storage& s) { return SceneState::selectedIndex(s); });
    });
    return index;
  }

  DefaultsStore store;
  AppSettings settings{store};
  FixedTextMetrics metrics;
  ChromeWindowCensus census;
  ActivatorHooks hooks;
  std::unique_ptr<AXFunnel> funnel;
  std::shared_ptr<FocusObserver> focus;
  std::unique_ptr<TabAdapter::NudgeRecord> nudges;
  std::unique_ptr<TabWalker> walker;
  std::unique_ptr<TabActivation> tabs;
  std::shared_ptr<WindowRegistry> registry;
  std::unique_ptr<Activator> activator;
  std::unique_ptr<RegistryCardSource> cards;
  std::unique_ptr<PlatformOverlayDesktop> desktop;
  std::unique_ptr<SceneWake> wake;
  QuietPictures pictures;
  QuietTextures textures;
  std::unique_ptr<SystemWindowActions> windowActions;
  std::unique_ptr<OverlayController> controller;
  std::vector<X11OverlayWindow*> overlayWindows;
};

TEST_F(X11OverlayControllerTest, SummonShowsTheOverlayAStepMovesAndCommitRaisesTheChosenWindow) {
  const uint32_t first = launch({"--title", "First"});
  const uint32_t second = launch({"--title", "Second"});
  ASSERT_TRUE(first && second);
  ASSERT_TRUE(activate(first));
  ASSERT_TRUE(activate(second));
  registry->start();
  // The registry has both windows, the second the most recent.
  auto bothListed = [&] {
    return registry->lock().withLock([&] { return registry->state().cards->size() >= 2; });
  };
  ASSERT_TRUE(runUntil(bothListed, 15000ms));

  onMain([&] { controller->present(true, AppSettings::HotkeyScope::allWindows); });
  ASSERT_TRUE(controller->isVisible());
  ASSERT_EQ(overlayWindows.size(), 1u);
  X11OverlayWindow& overlay = *overlayWindows[0];
  EXPECT_TRUE(X11Session::waitUntil([&] { return mapped(overlay.xWindow()); }));
  auto geometry = x().reply(xcb_get_geometry_reply, xcb_get_geometry(x().xcb(), overlay.xWindow()));
  ASSERT_TRUE(geometry);
  EXPECT_EQ(Rect(geometry->x, geometry->y, geometry->width, geometry->height), (Rect{0, 0, 1920, 1080}));
  const std::vector<WindowCard> shown = controller->presentedCards();
  ASSERT_GE(shown.size(), 2u);
  EXPECT_EQ(shown[0].id, second);
  EXPECT_EQ(selected(), 0);

  onMain([&] { controller->stepSelection(1); });
  EXPECT_EQ(selected(), 1);
  const uint32_t chosen = shown[1].id;
  EXPECT_EQ(chosen, first);

  onMain([&] { controller->commitSelection(); });
  EXPECT_FALSE(controller->isVisible());
  EXPECT_TRUE(runUntil([&] { return desktops->activeWindow() == chosen; }, 10000ms));
  EXPECT_TRUE(runUntil([&] { return !mapped(overlay.xWindow()); }, 5000ms));
}

TEST_F(X11OverlayControllerTest, TypingNarrowsToAWindowsTitleAndClosingACardClosesItsWindow) {
  const uint32_t report = launch({"--title", "Quarterly report"});
  const uint32_t notes = launch({"--title", "Shopping notes"});
  const uint32_t scratch = launch({"--title", "Scratch pad"});
  ASSERT_TRUE(report && notes && scratch);
  for (uint32_t w : {report, notes, scratch}) ASSERT_TRUE(activate(w));
  registry->start();
  auto listed = [&](size_t n) {
    return registry->lock().withLock([&] { return registry->state().cards->size() >= n; });
  };
  ASSERT_TRUE(runUntil([&] { return listed(3); }, 15000ms));

  // Space opens the search; typing narrows the cards to the window whose title matches; Return
  // commits it.
  onMain([&] { controller->present(true, AppSettings::HotkeyScope::allWindows); });
  ASSERT_TRUE(controller->isVisible());
  onMain([&] {
    controller->setSearching(true);
    controller->insertSearchText("shop");
  });
  ASSERT_EQ(controller->presentedCards().size(), 1u);
  EXPECT_EQ(controller->presentedCards()[0].id, notes);
  onMain([&] { controller->commitSelection(); });
  EXPECT_FALSE(controller->isVisible());
  EXPECT_TRUE(runUntil([&] { return desktops->activeWindow() == notes; }, 10000ms));

  // Closing a card from the overlay closes the window behind it.
  ASSERT_TRUE(runUntil([&] { return !controller->isVisible() && overlayWindows.size() == 1 && !mapped(overlayWindows[0]->xWindow()); },
                       5000ms));
  onMain([&] { controller->present(true, AppSettings::HotkeyScope::allWindows); });
  ASSERT_TRUE(controller->isVisible());
  std::optional<int> index;
  onMain([&] {
    const auto& cards = controller->presentedCards();
    for (size_t i = 0; i < cards.size(); ++i)
      if (cards[i].id == scratch) index = static_cast<int>(i);
    if (index) controller->performWindowAction(CardAction::close, *index);
  });
  ASSERT_TRUE(index);
  for (const WindowCard& card : controller->presentedCards()) EXPECT_NE(card.id, scratch);
  auto gone = [&] {
    const std::vector<uint32_t> clients = windows->clientList();
    return std::find(clients.begin(), clients.end(), scratch) == clients.end();
  };
  EXPECT_TRUE(runUntil(gone, 10000ms));
  onMain([&] { controller->cancel(); });
}

// M on a card minimizes its window through the accessibility layer; after the follow-up refresh the
// card shows the window as minimized, and M again restores it, while the overlay keeps the keyboard.
TEST_F(X11OverlayControllerTest, MinimizeThenRestoreFromTheOverlay) {
  const uint32_t editor = launch({"--title", "Editor"});
  const uint32_t other = launch({"--title", "Other"});
  ASSERT_TRUE(editor && other);
  for (uint32_t w : {other, editor}) ASSERT_TRUE(activate(w));  // the editor in front
  registry->start();
  ASSERT_TRUE(runUntil([&] { return registry->lock().withLock([&] { return registry->state().cards->size() >= 2; }); },
                       15000ms));
  onMain([&] { controller->present(true, AppSettings::HotkeyScope::allWindows); });
  ASSERT_TRUE(controller->isVisible());
  // The editor's card, with the state the switcher shows for it.
  auto card = [&] {
    std::optional<std::pair<int, WindowState>> found;
    onMain([&] {
      const auto& cards = controller->presentedCards();
      for (size_t i = 0; i < cards.size(); ++i)
        if (cards[i].id == editor) found = std::pair{static_cast<int>(i), cards[i].state};
    });
    return found;
  };
  ASSERT_TRUE(card());
  onMain([&] { controller->performWindowAction(CardAction::minimize, card()->first); });
  auto minimized = [&] {
    const std::optional<X11Window> w = read(editor);
    return w && w->minimized;
  };
  EXPECT_TRUE(runUntil(minimized, 5000ms));
  // The follow-up refresh, 1.5 s after the action, brings the new state into the switcher.
  EXPECT_TRUE(runUntil([&] { return card() && card()->second == WindowState::minimized; }, 10000ms));
  EXPECT_TRUE(controller->isVisible());
  onMain([&] { controller->performWindowAction(CardAction::minimize, card()->first); });
  EXPECT_TRUE(runUntil([&] { return !minimized(); }, 5000ms));
  EXPECT_TRUE(runUntil([&] { return card() && card()->second != WindowState::minimized; }, 10000ms));
  // The window manager focuses the restored window; the overlay, still up, takes the keyboard back.
  ASSERT_EQ(overlayWindows.size(), 1u);
  auto overlayHasFocus = [&] {
    auto focus = x().reply(xcb_get_input_focus_reply, xcb_get_input_focus(x().xcb()));
    return focus && focus->focus == overlayWindows[0]->xWindow();
  };
  runUntil([] { return false; }, 300ms);  // the window manager's focus change has come
  EXPECT_TRUE(runUntil(overlayHasFocus, 5000ms));
  onMain([&] { controller->cancel(); });
}

// Under i3, whose focus follows the pointer, the window below the pointer must not take the focus
// while the overlay goes: the chosen window alone is focused.
class X11OverlayControllerUnderI3Test : public X11OverlayControllerTest {
 protected:
  X11Session::Options sessionOptions() const override {
    X11Session::Options options;
    options.manager = X11Session::Manager::i3;
    options.focusFollowsMouse = true;
    return options;
  }
};

TEST_F(X11OverlayControllerUnderI3Test, TheWindowBelowThePointerDoesNotTakeTheCommit) {
  const uint32_t below = launch({"--title", "Below the pointer"});
  const uint32_t chosen = launch({"--title", "Chosen"});
  const uint32_t front = launch({"--title", "Front"});
  ASSERT_TRUE(below && chosen && front);
  // The pointer rests over one window (i3 focuses it) while another is in front.
  const std::optional<X11Window> under = read(below);
  ASSERT_TRUE(under);
  const auto midX = static_cast<int16_t>(under->frame.x + under->frame.width / 2);
  const auto midY = static_cast<int16_t>(under->frame.y + under->frame.height / 2);
  xcb_warp_pointer(x().xcb(), XCB_NONE, x().root(), 0, 0, 0, 0, midX, midY);
  x().flush();
  ASSERT_TRUE(runUntil([&] { return desktops->activeWindow() == below; }, 5000ms));
  ASSERT_TRUE(activate(chosen));
  ASSERT_TRUE(activate(front));
  registry->start();
  ASSERT_TRUE(runUntil([&] { return registry->lock().withLock([&] { return registry->state().cards->size() >= 3; }); },
                       15000ms));

  for (int round = 0; round < 5; ++round) {
    ActiveWindowLog active(session->display());
    onMain([&] { controller->present(true, AppSettings::HotkeyScope::allWindows); });
    ASSERT_TRUE(controller->isVisible());
    ASSERT_EQ(controller->presentedCards().size(), 3u);
    const std::vector<WindowCard> shown = controller->presentedCards();
    const auto at = std::find_if(shown.begin(), shown.end(), [&](const WindowCard& c) { return c.id == chosen; });
    ASSERT_NE(at, shown.end());
    const int by = static_cast<int>(at - shown.begin()) - selected();
    if (by != 0) onMain([&] { controller->stepSelection(by); });
    ASSERT_EQ(shown[static_cast<size_t>(selected())].id, chosen) << "round " << round;
    const size_t mark = active.mark();
    onMain([&] { controller->commitSelection(); });
    ASSERT_TRUE(runUntil([&] { return !overlayWindows.empty() && !mapped(overlayWindows[0]->xWindow()); }, 5000ms));
    runUntil([] { return false; }, 300ms);
    std::vector<uint32_t> changes;
    for (uint32_t value : active.since(mark)) {
      if (value != 0 && (changes.empty() || changes.back() != value)) changes.push_back(value);
    }
    EXPECT_EQ(changes, std::vector<uint32_t>{chosen}) << "round " << round;
    EXPECT_EQ(desktops->activeWindow(), chosen) << "round " << round;
    ASSERT_TRUE(activate(front));
  }
}

}  // namespace
}  // namespace quorvel
