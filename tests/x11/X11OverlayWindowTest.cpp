#include <gtest/gtest.h>

#include <xcb/shape.h>

#include "RandrMonitor.h"
#include "X11PlatformTest.h"
#include "XdndSource.h"
#include "app/HotkeyManager.h"
#include "base/DefaultsStore.h"
#include "overlay/FixedTextMetrics.h"
#include "overlay/OverlayContentView.h"
#include "overlay/OverlayTestSupport.h"
#include "overlay/x11/X11OverlayWindow.h"
#include "overlay/OverlayChromePainter.h"
#include "platform/qt/QtRaster.h"
#include "gpu/x11/VulkanWindowSurface.h"
#include "scene/LayoutFactory.h"
#include "scene/render/FrameClock.h"
#include "scene/render/SceneRenderer.h"
#include "support/VulkanTestDevice.h"

#include <QGuiApplication>
#include <array>
#include <cmath>
#include "platform/x11/X11KeyCodes.h"
#include "platform/x11/X11KeySource.h"
#include "platform/x11/X11Workspace.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;
using Calls = std::vector<std::string>;

// The overlay's windows on a real X session: one per monitor, with keys, wheel and clicks from XTest.
class X11OverlayWindowTest : public X11PlatformTest {
 protected:
  void SetUp() override {
    X11PlatformTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    settings.registerDefaults();
    store.set(AppSettings::Key::scrollDirectionNatural, false);
  }
  void TearDown() override {
    manager.reset();
    source.reset();
    views.clear();
    overlays.clear();
    X11PlatformTest::TearDown();
  }

  X11OverlayWindow& addOverlay(const Rect& monitor) {
    std::string error;
    auto window = X11OverlayWindow::open(session->display(), monitor, runtime->main(), &error);
    EXPECT_TRUE(window) << error;
    auto view = std::make_unique<OverlayContentView>(OverlayContentView::Services{
        metrics, runtime->main(), settings, [] { return false; }, [](int, int) { return false; }, [] { return false; },
        [] { return std::nullopt; }, [](bool) {}, [] { return true; }});
    view->overlayDelegate = &delegate;
    view->window = OverlayContentView::WindowFacts{window->windowNumber(), 1.0, false, std::nullopt};
    view->setFrameSize({monitor.width, monitor.height});
    view->configure(true, 1.0);
    window->setContentView(view.get());
    delegate.calls.clear();  // the host's first geometry report
    overlays.push_back(std::move(window));
    views.push_back(std::move(view));
    return *overlays.back();
  }
  // Runs the main queue and the overlays' event dispatch until `condition` holds.
  bool pump(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 5000ms) {
    return runUntil(
        [&] {
          for (auto& overlay : overlays) overlay->dispatchEvents();
          return condition();
        },
        timeout);
  }
  bool type(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv{"xdotool"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return session->runTool(argv);
  }
  // The shortcut manager on the session's key stream, noting its presses and releases in
  // `shortcut`, with `overlay` wired as the program wires it: the shortcut's keys typed to it step,
  // and the key stream hands it the keyboard it kept since a summon's press.
  void startShortcut(X11OverlayWindow& overlay) {
    source = X11KeySource::open(runtime->main(), session->display());
    ASSERT_TRUE(source);
    manager = HotkeyManager::create(settings, platform->workspace(), *source, runtime->main());
    manager->onSummon = [this](int direction, HotkeyPress, AppSettings::HotkeyScope) {
      shortcut.push_back(direction > 0 ? "summon +1" : "summon -1");
    };
    manager->onModifierRelease = [this] {
      overlays.front()->catchUpInput();
      shortcut.push_back("release");
    };
    manager->start();
    ASSERT_TRUE(manager->isInstalled());
    overlay.shortcutKey = [this](int64_t keyCode, uint64_t flags) {
      const auto press = manager->overlayShortcutPress(keyCode, flags);
      if (press) shortcut.push_back(press->direction > 0 ? "summon +1" : "summon -1");
      return press.has_value();
    };
    overlay.takeKeyboardFromStream = [this] { return manager->handOverKeyboard(); };
  }
  bool delegateSaw(const std::string& call) {
    return pump([&] { return std::find(delegate.calls.begin(), delegate.calls.end(), call) != delegate.calls.end(); });
  }

  DefaultsStore store;
  AppSettings settings{store};
  FixedTextMetrics metrics;
  RecordingDelegate delegate;
  std::vector<std::unique_ptr<X11OverlayWindow>> overlays;
  std::vector<std::unique_ptr<OverlayContentView>> views;
  std::unique_ptr<X11KeySource> source;
  std::shared_ptr<HotkeyManager> manager;
  Calls shortcut;
};

TEST_F(X11OverlayWindowTest, OneSeeThroughOverrideRedirectWindowPerMonitorOutOfTheClientList) {
  ASSERT_TRUE(setRandrMonitor(x(), {x().atom("LEFT-1"), 1, 1, 0, 0, 0, 960, 1080, 250, 280}));
  ASSERT_TRUE(setRandrMonitor(x(), {x().atom("RIGHT-1"), 0, 1, 0, 960, 0, 960, 1080, 250, 280}));
  X11OverlayWindow& left = addOverlay({0, 0, 960, 1080});
  X11OverlayWindow& right = addOverlay({960, 0, 960, 1080});
  left.show();
  right.show();
  for (X11OverlayWindow* overlay : {&left, &right}) {
    const uint32_t id = overlay->xWindow();
    auto geometry = x().reply(xcb_get_geometry_reply, xcb_get_geometry(x().xcb(), id));
    ASSERT_TRUE(geometry);
    EXPECT_EQ(geometry->depth, 32);
    EXPECT_EQ(Rect(geometry->x, geometry->y, geometry->width, geometry->height), overlay->frame());
    EXPECT_TRUE(X11Session::waitUntil([&] {
      auto attributes = x().reply(xcb_get_window_attributes_reply, xcb_get_window_attributes(x().xcb(), id));
      return attributes && attributes->override_redirect && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
    }));
    const std::vector<uint32_t> clients = windows->clientList();
    EXPECT_EQ(std::find(clients.begin(), clients.end(), id), clients.end());
  }

  // Click-through while fading out: an empty input shape, and back to the whole window.
  const auto inputRects = [&](uint32_t id) {
    auto reply = x().reply(xcb_shape_get_rectangles_reply, xcb_shape_get_rectangles(x().xcb(), id, XCB_SHAPE_SK_INPUT));
    return reply ? xcb_shape_get_rectangles_rectangles_length(reply.get()) : -1;
  };
  // The overlay speaks on its own connection, so the server may answer this one first: wait.
  left.setClickThrough(true);
  EXPECT_TRUE(X11Session::waitUntil([&] { return inputRects(left.xWindow()) == 0; }));
  EXPECT_EQ(inputRects(right.xWindow()), 1);
  left.setClickThrough(false);
  EXPECT_TRUE(X11Session::waitUntil([&] { return inputRects(left.xWindow()) == 1; }));

  // No blur-behind hint without a compositor that offers it.
  EXPECT_FALSE(left.blurAvailable());
  EXPECT_FALSE(left.setBackgroundBlur(20));

  left.orderOut();
  EXPECT_TRUE(X11Session::waitUntil([&] {
    auto attributes =
        x().reply(xcb_get_window_attributes_reply, xcb_get_window_attributes(x().xcb(), left.xWindow()));
    return attributes && attributes->map_state == XCB_MAP_STATE_UNMAPPED;
  }));
}

TEST_F(X11OverlayWindowTest, TheShortcutStepsAndReleasesWhileTheOverlayHasTheKeyboard) {
  X11OverlayWindow& overlay = addOverlay({0, 0, 1920, 1080});
  ASSERT_NO_FATAL_FAILURE(startShortcut(overlay));
  manager->onPrewarm = [this] { shortcut.push_back("prewarm"); };
  // The summon's press reaches the key stream while the overlay is down.
  ASSERT_TRUE(type({"keydown", "alt", "key", "Tab"}));
  EXPECT_TRUE(pump([&] { return shortcut.size() >= 2; }));
  std::vector<bool> keyChanges;
  overlay.onKeyStatusChange = [&](bool key) { keyChanges.push_back(key); };
  overlay.show();
  overlay.makeKey();
  ASSERT_TRUE(X11Session::waitUntil([&] { return overlay.isKey(); }));
  EXPECT_TRUE(pump([&] { return !keyChanges.empty(); }));
  EXPECT_EQ(keyChanges, std::vector<bool>{true});

  ASSERT_TRUE(type({"key", "Tab", "keyup", "alt"}));
  EXPECT_TRUE(pump([&] { return shortcut.size() >= 4; }));
  EXPECT_EQ(shortcut, (Calls{"prewarm", "summon +1", "summon +1", "release"}));
  EXPECT_TRUE(overlay.isKey());
  EXPECT_TRUE(overlay.holdsKeyboardGrab());
  // Another client cannot have the keyboard while the overlay is up; it has it again once the
  // overlay lets clicks through (its fade-out).
  const auto grabbedByTest = [&] {
    auto reply = x().reply(xcb_grab_keyboard_reply, xcb_grab_keyboard(x().xcb(), 0, x().root(), XCB_CURRENT_TIME,
                                                                      XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    const bool granted = reply && reply->status == XCB_GRAB_STATUS_SUCCESS;
    xcb_ungrab_keyboard(x().xcb(), XCB_CURRENT_TIME);
    x().flush();
    return granted;
  };
  EXPECT_FALSE(grabbedByTest());
  overlay.setClickThrough(true);
  EXPECT_TRUE(X11Session::waitUntil(grabbedByTest));
  ASSERT_TRUE(x().sync());  // the test's last grab is over
  overlay.setClickThrough(false);
  overlay.makeKey();
  ASSERT_TRUE(pump([&] { return overlay.holdsKeyboardGrab(); }));
  EXPECT_FALSE(grabbedByTest());

  // Keys the shortcut does not take reach the overlay, as key codes with their text.
  ASSERT_TRUE(type({"key", "Right", "key", "space", "key", "a", "key", "Escape", "key", "Escape"}));
  EXPECT_TRUE(delegateSaw("cancel"));
  EXPECT_EQ(delegate.calls, (Calls{"move 1", "searching on", "insert a", "searching off", "cancel"}));
}

// The shortcut's release and the overlay's own keys come on two connections and act in the order
// typed: the shortcut's step, read on the overlay's connection while it holds the keyboard, comes
// before the Escape typed after it, and the release of Alt typed after an Escape delivers that
// Escape first.
TEST_F(X11OverlayWindowTest, TheOverlaysKeysActInTheOrderTypedWithTheShortcutsKeys) {
  source = X11KeySource::open(runtime->main(), session->display());
  ASSERT_TRUE(source);
  manager = HotkeyManager::create(settings, platform->workspace(), *source, runtime->main());
  manager->onSummon = [this](int, HotkeyPress, AppSettings::HotkeyScope) {
    overlays.front()->catchUpInput();
    delegate.calls.push_back("step");
  };
  manager->onModifierRelease = [this] {
    overlays.front()->catchUpInput();
    delegate.calls.push_back("release");
  };
  manager->start();
  ASSERT_TRUE(manager->isInstalled());
  X11OverlayWindow& overlay = addOverlay({0, 0, 1920, 1080});
  overlay.setKeyOrder(manager->keyOrder());
  overlay.shortcutKey = [this](int64_t keyCode, uint64_t flags) {
    if (!manager->overlayShortcutPress(keyCode, flags)) return false;
    delegate.calls.push_back("step");
    return true;
  };
  overlay.show();
  overlay.makeKey();
  ASSERT_TRUE(pump([&] { return overlay.isKey() && overlay.holdsKeyboardGrab(); }));
  const auto waitingHops = [&](size_t count) {
    return X11Session::waitUntil([&] { return manager->keyOrder()->waiting() == count; });
  };

  ASSERT_TRUE(type({"keydown", "alt", "key", "Tab", "key", "Escape"}));
  EXPECT_TRUE(delegateSaw("cancel"));
  EXPECT_EQ(delegate.calls, (Calls{"step", "cancel"}));

  delegate.calls.clear();
  ASSERT_TRUE(type({"key", "Escape", "keyup", "alt"}));
  ASSERT_TRUE(waitingHops(1));
  EXPECT_TRUE(runUntil([&] { return manager->keyOrder()->waiting() == 0 && !delegate.calls.empty(); }));
  EXPECT_EQ(delegate.calls, (Calls{"cancel", "release"}));
}

// Tab steps with the modifiers of a shortcut that is not on Tab (Ctrl+Alt+K), also when the window
// manager binds Ctrl+Alt+Tab (metacity does) and Tab is typed before the switcher's window has
// come: the key stream keeps the keyboard from the summon's press and hands it to the window.
TEST_F(X11OverlayWindowTest, TabStepsWithTheShortcutsModifiersBeforeAndAfterTheWindowCame) {
  store.set(AppSettings::Key::hotkeyBinding1,
            nlohmann::json{{"keyCode", 40}, {"flags", KeyFlags::control | KeyFlags::option}});
  // The window manager's binding of Ctrl+Alt+Tab, on the test's connection.
  const auto tab = X11KeyCodes::xKeyCode(HotkeyBinding::tabKeyCode);
  ASSERT_TRUE(tab);
  const uint16_t controlAlt = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1;
  xcb_grab_key(x().xcb(), 1, x().root(), controlAlt, *tab, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
  ASSERT_TRUE(x().sync());

  X11OverlayWindow& overlay = addOverlay({0, 0, 1920, 1080});
  ASSERT_NO_FATAL_FAILURE(startShortcut(overlay));

  // The summon's press; Tab comes while the switcher is still being built.
  ASSERT_TRUE(type({"keydown", "ctrl", "keydown", "alt", "keydown", "k"}));
  ASSERT_TRUE(pump([&] { return shortcut.size() == 1 && source->keepsKeyboard(); }));
  ASSERT_TRUE(type({"keyup", "k", "key", "Tab"}));
  EXPECT_TRUE(pump([&] { return shortcut.size() >= 2; }));

  // The window takes the keyboard from the stream; Tab and Shift+Tab step there too.
  overlay.show();
  overlay.makeKey();
  EXPECT_TRUE(overlay.holdsKeyboardGrab());
  EXPECT_FALSE(source->keepsKeyboard());
  ASSERT_TRUE(type({"key", "shift+Tab", "key", "Tab"}));
  EXPECT_TRUE(pump([&] { return shortcut.size() >= 4; }));
  ASSERT_TRUE(type({"keyup", "alt", "keyup", "ctrl"}));
  EXPECT_TRUE(pump([&] { return shortcut.size() >= 5; }));
  EXPECT_EQ(shortcut, (Calls{"summon +1", "summon +1", "summon -1", "summon +1", "release"}));
  EXPECT_TRUE(delegate.calls.empty());
  xcb_ungrab_key(x().xcb(), *tab, x().root(), controlAlt);
}

TEST_F(X11OverlayWindowTest, TheKeyStatusIsKnownAtOnceAndFollowsTheFocusEvents) {
  X11OverlayWindow& overlay = addOverlay({0, 0, 1920, 1080});
  const auto serverFocus = [&] {
    auto reply = x().reply(xcb_get_input_focus_reply, xcb_get_input_focus(x().xcb()));
    return reply ? reply->focus : 0u;
  };
  for (int summon = 0; summon < 2; ++summon) {
    overlay.show();
    overlay.makeKey();
    EXPECT_TRUE(overlay.isKey()) << "no answer from the server is awaited";
    EXPECT_TRUE(X11Session::waitUntil([&] { return serverFocus() == overlay.xWindow(); }));
    // The focus events of this summon (and the unmap of the last one) leave it the key window.
    runUntil([] { return false; }, 100ms);
    overlay.dispatchEvents();
    EXPECT_TRUE(overlay.isKey());

    // While it fades out it does not take the focus back: another client's focus shows.
    overlay.setClickThrough(true);
    xcb_set_input_focus(x().xcb(), XCB_INPUT_FOCUS_POINTER_ROOT, XCB_INPUT_FOCUS_POINTER_ROOT, XCB_CURRENT_TIME);
    x().flush();
    EXPECT_TRUE(pump([&] { return !overlay.isKey(); }));
    overlay.setClickThrough(false);
    overlay.orderOut();
    EXPECT_FALSE(overlay.isKey());
  }
}

TEST_F(X11OverlayWindowTest, WheelClicksBecomeAScrollGestureAndClicksComeThrough) {
  X11OverlayWindow& overlay = addOverlay({0, 0, 1920, 1080});
  overlay.show();
  ASSERT_TRUE(type({"mousemove", "500", "500"}));
  ASSERT_TRUE(type({"click", "5", "click", "5"}));
  EXPECT_TRUE(pump([&] {
    return std::any_of(delegate.calls.begin(), delegate.calls.end(),
                       [](const std::string& c) { return c.rfind("endFlip", 0) == 0; });
  }));
  ASSERT_GE(delegate.calls.size(), 3u);
  EXPECT_EQ(delegate.calls[0], "flip -0.2");  // one click down: 40 points down, up-and-down axis
  EXPECT_EQ(delegate.calls[1], "flip -0.2");

  delegate.calls.clear();
  ASSERT_TRUE(type({"click", "1"}));
  // The view's y grows upward: 1080 − 500.
  EXPECT_TRUE(delegateSaw("click 500,580"));
}

// A drag from another program: the overlay answers each position with whether a card lies under
// it, and a drop with "not taken", and never asks for the data. With drag-to-switch off the
// overlay is no drop target at all.
TEST_F(X11OverlayWindowTest, DragsAreRoutedToTheViewAndTheirDataIsNeverTaken) {
  X11OverlayWindow& overlay = addOverlay({0, 0, 1920, 1080});
  overlay.show();
  XdndSource drag(session->display());
  auto moveUntil = [&](int x, const std::function<bool()>& condition) {
    return pump([&] {
      drag.moveTo(x, 500);
      return condition();
    });
  };
  EXPECT_TRUE(moveUntil(500, [&] { return drag.target() == overlay.xWindow() && drag.accepted(); }));
  ASSERT_GE(delegate.calls.size(), 2u);
  EXPECT_EQ(delegate.calls[0], "dragEntered");
  EXPECT_EQ(delegate.calls[1], "dragUpdate");
  delegate.dragAnswer = false;  // no card under the pointer: no drop offered
  EXPECT_TRUE(moveUntil(501, [&] { return !drag.accepted(); }));
  delegate.dragAnswer = true;
  EXPECT_TRUE(moveUntil(502, [&] { return drag.accepted(); }));
  EXPECT_EQ(drag.drop(), std::optional<uint32_t>(overlay.xWindow()));
  EXPECT_TRUE(pump([&] {
    drag.readAnswers();
    return !drag.finished().empty();
  }));
  EXPECT_EQ(drag.finished(), (std::vector<std::pair<uint32_t, bool>>{{overlay.xWindow(), false}}));
  EXPECT_EQ(delegate.calls.back(), "drop");
  EXPECT_EQ(drag.dataRequests(), 0);

  overlay.orderOut();
  store.set(AppSettings::Key::dragToSwitch, false);
  views.back()->configure(true, 1.0);
  overlay.show();
  delegate.calls.clear();
  XdndSource another(session->display());
  another.moveTo(500, 500);
  EXPECT_EQ(another.target(), 0u) << "with drag-to-switch off the overlay takes no part in drags";
}

}  // namespace
}  // namespace quorvel

namespace quorvel {
namespace {

// Qt for the chrome's drawing: its application object, offscreen.
class QtApp {
 public:
  QtApp() {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "test_x11";
    static char* argv[] = {name, nullptr};
    if (!QGuiApplication::instance()) app_ = std::make_unique<QGuiApplication>(argc, argv);
  }

 private:
  std::unique_ptr<QGuiApplication> app_;
};

// The overlay as the program shows it: on each monitor's window a Vulkan surface, a scene renderer
// drawing three cards, the backdrop under them and the chrome the painter draws over them; the root
// window's pixels are read back (Xvfb composites nothing, so a window's colour is what it holds,
// premultiplied).
TEST_F(X11OverlayWindowTest, TitleAndSearchCapsulesShowOverTheCardsOnBothMonitorsWhereTheLayoutSays) {
  QtApp qt;
  QtRaster raster;
  OverlayChromePainter painter(raster);
  VulkanTestDevice vk;
  ASSERT_TRUE(vk.device) << vk.error;
  auto context = GpuContext::make(vk.device);
  ASSERT_TRUE(context);
  ASSERT_TRUE(setRandrMonitor(x(), {x().atom("LEFT-1"), 1, 1, 0, 0, 0, 960, 1080, 250, 280}));
  ASSERT_TRUE(setRandrMonitor(x(), {x().atom("RIGHT-1"), 0, 1, 0, 960, 0, 960, 1080, 250, 280}));
  const Rect monitors[] = {{0, 0, 960, 1080}, {960, 0, 960, 1080}};
  for (const Rect& m : monitors) addOverlay(m);

  // Three cards of solid colours: red, green, blue (the middle one focused).
  const std::array<std::array<uint8_t, 3>, 3> colours{{{220, 30, 30}, {30, 220, 30}, {30, 30, 220}}};
  std::vector<std::shared_ptr<GpuTexture>> pictures;
  std::vector<WindowCard> cards;
  std::vector<Rect> rects;
  for (uint32_t i = 0; i < 3; ++i) {
    std::vector<uint8_t> bytes(64 * 40 * 4);
    for (size_t p = 0; p < bytes.size(); p += 4) {
      bytes[p] = colours[i][2];
      bytes[p + 1] = colours[i][1];
      bytes[p + 2] = colours[i][0];
      bytes[p + 3] = 255;
    }
    pictures.push_back(vk.device->makeTexture({64, 40, 1, false, "Quorvel test picture"}));
    ASSERT_TRUE(pictures.back() && pictures.back()->replaceLevel(0, bytes.data(), 64 * 4));
    WindowCard card;
    card.id = i + 1;
    card.title = "Window " + std::to_string(i + 1);
    card.frame = {100.0 * i, 100, 640, 400};
    card.ax = std::make_shared<const AXHandle>(nullptr);
    cards.push_back(card);
    rects.push_back({100.0 * i, 100, 640, 400});
  }
  CardRenderer::Providers providers;
  providers.picture = [&pictures](uint32_t id) -> std::optional<CardPicture> {
    if (id < 1 || id > pictures.size()) return std::nullopt;
    return CardPicture{pictures[id - 1], CaptureExtent{}};
  };
  SceneWake wake(runtime->clock());
  // No reflections: the title capsule sits low, where they would lie under it.
  store.set(AppSettings::Key::floorReflections, false);
  std::vector<std::shared_ptr<VulkanWindowSurface>> surfaces;
  std::vector<std::unique_ptr<SceneRenderer>> renderers;
  std::array<uint64_t, 2> handedOver{};  // frames each window had when its cards were handed over
  views[1]->beginSearch();
  views[1]->setSearchText("mail", 4);
  // The chrome is drawn as it stands once every fade has ended: a second after the last change of
  // each view (the setup of one monitor may take longer than that under load).
  std::array<Instant, 2> later{};
  for (size_t i = 0; i < 2; ++i) {
    std::string error;
    auto surface = VulkanWindowSurface::make(vk.device, overlays[i]->connection().xcb(), overlays[i]->xWindow(),
                                             "Quorvel overlay", &error);
    ASSERT_TRUE(surface) << error;
    surface->setBounds(views[i]->surfaceHost.layerFrame());
    surface->setContentsScale(views[i]->surfaceHost.contentsScale());
    auto renderer = SceneRenderer::makeRenderer(
        context, surface, providers, [](int, FocusChangeSource) {},
        SceneRenderer::Services{runtime->main(), runtime->clock(), wake, settings,
                                [this] { return std::make_shared<FrameClock>(runtime->clock()); }});
    ASSERT_TRUE(renderer && renderer->core());
    views[i]->showTitle(i == 0 ? "Inbox" : "Drafts");
    later[i] = runtime->clock().now() + fromSeconds(1);
    auto chrome = painter.paint(*views[i], 1.0, later[i]);
    ASSERT_TRUE(chrome);
    ASSERT_TRUE(renderer->setOverlayChrome(*chrome));
    const RasterColor under = OverlayChromePainter::backdropColor(*views[i], later[i]);
    renderer->setBackdrop(Float4{float(under.red), float(under.green), float(under.blue), float(under.alpha)});
    overlays[i]->show();
    renderer->state()->withLock([&](SceneState::Storage& st) {
      wake.wake(st, [&](SceneState::Storage& s) {
        SceneState::applyStyle(s, OrbitCamera::FocusMode::clamp, false,
                               LayoutFactory::makeLayout(AppSettings::SwitcherStyle::coverArc, settings), 0.92);
      });
    });
    renderer->present(cards, rects, false, 1, 60);
    handedOver[i] = surface->presentedCount();
    surfaces.push_back(std::move(surface));
    renderers.push_back(std::move(renderer));
  }
  // A wake draws a frame only where the screen changes. So: until frames drawn after the cards were
  // handed over have come, then until both scenes rest, then until no frame has been handed to the
  // window system for half a second (the last one drawn has reached the window).
  ASSERT_TRUE(runUntil(
      [&] {
        wake.bump();
        return surfaces[0]->presentedCount() > handedOver[0] && surfaces[1]->presentedCount() > handedOver[1];
      },
      60000ms));
  ASSERT_TRUE(runUntil(
      [&] { return renderers[0]->core()->pacing().sceneAtRest() && renderers[1]->core()->pacing().sceneAtRest(); },
      60000ms));
  std::array<uint64_t, 2> seen{surfaces[0]->presentedCount(), surfaces[1]->presentedCount()};
  auto quietSince = std::chrono::steady_clock::now();
  ASSERT_TRUE(runUntil(
      [&] {
        wake.bump();
        const std::array<uint64_t, 2> now{surfaces[0]->presentedCount(), surfaces[1]->presentedCount()};
        if (now != seen) {
          seen = now;
          quietSince = std::chrono::steady_clock::now();
        }
        return std::chrono::steady_clock::now() - quietSince > 500ms;
      },
      60000ms));
  for (auto& overlay : overlays) overlay->connection().sync();
  x().sync();

  const auto rootPixel = [&](int px, int py) -> std::array<int, 3> {
    auto image = x().reply(xcb_get_image_reply, xcb_get_image(x().xcb(), XCB_IMAGE_FORMAT_Z_PIXMAP, x().root(),
                                                              static_cast<int16_t>(px), static_cast<int16_t>(py), 1, 1,
                                                              ~0u));
    if (!image || xcb_get_image_data_length(image.get()) < 3) return {-1, -1, -1};
    const uint8_t* p = xcb_get_image_data(image.get());
    return {p[2], p[1], p[0]};
  };
  const auto near = [](std::array<int, 3> a, std::array<double, 3> b, double tolerance = 3) {
    for (int k = 0; k < 3; ++k) {
      if (std::abs(a[k] - b[k]) > tolerance) {
        ADD_FAILURE() << "pixel " << a[0] << "," << a[1] << "," << a[2] << " is not " << b[0] << "," << b[1] << ","
                      << b[2];
        return false;
      }
    }
    return true;
  };
  const RasterColor glass = OverlayChromePainter::kGlass;
  for (size_t i = 0; i < 2; ++i) {
    const Rect& m = monitors[i];
    SCOPED_TRACE("monitor " + std::to_string(i));
    const RasterColor under = OverlayChromePainter::backdropColor(*views[i], later[i]);
    const std::array<double, 3> backdrop{under.red * 255, under.green * 255, under.blue * 255};
    // Glass over the backdrop, both premultiplied.
    const std::array<double, 3> glassPixel{(glass.red * glass.alpha + under.red * (1 - glass.alpha)) * 255,
                                           (glass.green * glass.alpha + under.green * (1 - glass.alpha)) * 255,
                                           (glass.blue * glass.alpha + under.blue * (1 - glass.alpha)) * 255};
    // The focused (green) card in the middle of the monitor.
    const auto centre = rootPixel(int(m.x + m.width / 2), int(m.y + m.height / 2));
    EXPECT_GT(centre[1], 150) << "the focused card";
    EXPECT_LT(centre[0], 80);
    EXPECT_TRUE(near(rootPixel(int(m.x + 4), int(m.y + 4)), backdrop)) << "the backdrop in the corner";
    for (const GlassCapsule* capsule : {&views[i]->titleCapsule, &views[i]->searchCapsule}) {
      if (capsule->hidden || capsule->alpha.target() < 1) continue;  // the idle pill stands at half strength
      // View frames have y up from the monitor's bottom; the root's y goes down from its top.
      const Rect f = capsule->frame;
      const int left = int(m.x + f.x), top = int(m.y + m.height - f.maxY());
      const int midY = top + int(f.height / 2);
      // Just inside the left end (clear of the round corner and of the text) is glass; just outside,
      // the backdrop.
      EXPECT_TRUE(near(rootPixel(left + int(f.height / 2), top + 3), glassPixel)) << "capsule at " << f.x << "," << f.y;
      EXPECT_TRUE(near(rootPixel(left - 3, midY), backdrop));
      EXPECT_TRUE(near(rootPixel(int(m.x + m.width / 2), top - 3), backdrop));
    }
  }
  // The title's text is drawn over the glass, brighter than it.
  const Rect title = views[0]->titleCapsule.frame;
  int brightest = 0;
  for (int px = int(title.x); px < int(title.maxX()); ++px) {
    brightest = std::max(brightest, rootPixel(px, int(1080 - title.midY()))[0]);
  }
  EXPECT_GT(brightest, 120);

  for (auto& renderer : renderers) renderer->shutdown();
  renderers.clear();
  surfaces.clear();
  vk.device->waitIdle();
  vk.expectNoMessages();
}

}  // namespace
}  // namespace quorvel
