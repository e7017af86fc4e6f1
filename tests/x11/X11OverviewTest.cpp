#include <gtest/gtest.h>

#include "RandrMonitor.h"
#include "X11RegistryFixture.h"
#include "actions/OverviewDisplays.h"
#include "actions/WindowMover.h"
#include "actions/overview/OverviewController.h"
#include "actions/overview/RegistryOverviewSources.h"
#include "actions/overview/x11/X11OverviewWindow.h"
#include "base/LogCapture.h"
#include "gpu/x11/X11ArgbWindow.h"
#include "platform/OwnApplication.h"
#include "gpu/vulkan/VulkanDevice.h"
#include "support/VulkanTestDevice.h"
#include "windows/SpaceMap.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;
using Manager = X11Session::Manager;

// No pictures: the miniatures are drawn without them.
class NoPictures final : public OverviewPictureSource {
 public:
  std::optional<CardPicture> entry(uint32_t) override { return std::nullopt; }
  Task<void> captureMissing(std::vector<WindowCard>) override { co_return; }
  void beginPresentation() override {}
  void endPresentation() override {}
};

// The desktops overview opened on two monitors and four desktops, its window driven by the X
// server's own pointer (xdotool), under a stacking and a tiling window manager.
class X11OverviewTest : public X11RegistryFixture, public ::testing::WithParamInterface<Manager> {
 protected:
  X11Session::Options sessionOptions() const override { return {.manager = GetParam()}; }

  void SetUp() override {
    X11RegistryFixture::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    // The screen's output becomes the left monitor (which takes the place of the output's own
    // whole-screen monitor), and a second monitor without an output the right half.
    auto resources = x().reply(xcb_randr_get_screen_resources_current_reply,
                               xcb_randr_get_screen_resources_current(x().xcb(), x().root()));
    ASSERT_TRUE(resources);
    ASSERT_GT(xcb_randr_get_screen_resources_current_outputs_length(resources.get()), 0);
    const xcb_randr_output_t output = xcb_randr_get_screen_resources_current_outputs(resources.get())[0];
    ASSERT_TRUE(setMonitorOnOutput({x().atom("LEFT-1"), 1, 1, 1, 0, 0, 960, 1080, 250, 280}, output));
    ASSERT_TRUE(setRandrMonitor(x(), {x().atom("RIGHT-1"), 0, 1, 0, 960, 0, 960, 1080, 250, 280}));
    VulkanTestDevice::keepDriversLoaded();
    VulkanDeviceOptions options;
    options.validation = true;
    options.onValidationMessage = [this](const std::string& m) {
      std::lock_guard lock(validationMutex);
      validationMessages.push_back(m);
    };
    std::string error;
    device = VulkanDevice::make(options, &error);
    ASSERT_TRUE(device) << error;
    const PlatformServices services = platform->services();
    spaces = std::make_unique<SpaceMap>(services.desktopServer);
    // X11's enhanced-interface switch is the session's, left alone.
    mover = std::make_unique<WindowMover>(WindowMover::Services{services.accessibility, *spaces, services.displays, false});
    cards = std::make_unique<RegistryOverviewCards>(core->registry);
  }
  void TearDown() override {
    controller.reset();
    renderer.reset();
    window.reset();
    cards.reset();
    if (device) device->waitIdle();
    device.reset();
    {
      std::lock_guard lock(validationMutex);
      EXPECT_TRUE(validationMessages.empty()) << testing::PrintToString(validationMessages);
    }
    X11RegistryFixture::TearDown();
  }

  // Opens the overview over the whole screen, as the component's own opening does.
  void openOverview() {
    std::string error;
    window = X11OverviewWindow::open(session->display(), {0, 0, 1920, 1080}, device, &error);
    ASSERT_TRUE(window) << error;
    renderer = OverviewRenderer::make(GpuContext::make(device), window->surface());
    ASSERT_TRUE(renderer);
    const PlatformServices p = platform->services();
    controller = OverviewController::make({runtime->main(), *cards, pictures, *mover, core->funnel, p.ownApplication,
                                           core->settings, getpid(), [](const WindowCard&) {},
                                           [p, this] {
                                             std::optional<DesktopMap> map = DesktopMap::read(*spaces, p.displays);
                                             if (!map) return map;
                                             return std::optional<DesktopMap>(OverviewDisplays::spanningScreens(
                                                 *map, DesktopMap::readScreens(p.displays)));
                                           },
                                           [] { return true; }, p.desktopServer.isAvailable(DesktopServer::Group::move)});
    controller->attach(window.get(), renderer.get());
    window->pointer().setDelegate(controller);
    controller->open();
    ASSERT_EQ(controller->plan().bands.size(), 2u) << "a band per monitor";
    // The window is up once the X server sends it the pointer's moves.
    ASSERT_TRUE(pump([&] { return window->isVisible(); }));
  }
  // RRSetMonitor with one output, put together by hand as setRandrMonitor does.
  bool setMonitorOnOutput(const xcb_randr_monitor_info_t& info, xcb_randr_output_t output) {
    struct {
      uint8_t major = 0, minor = 0;
      uint16_t length = 0;
      uint32_t window = 0;
      xcb_randr_monitor_info_t info;
      uint32_t output = 0;
    } request;
    static_assert(sizeof request == 36);
    request.window = x().root();
    request.info = info;
    request.output = output;
    iovec parts[3]{};
    parts[2].iov_base = &request;
    parts[2].iov_len = sizeof request;
    xcb_protocol_request_t protocol{1, &xcb_randr_id, XCB_RANDR_SET_MONITOR, 1};
    const unsigned sequence = xcb_send_request(x().xcb(), XCB_REQUEST_CHECKED, parts + 2, &protocol);
    return x().check(xcb_void_cookie_t{sequence});
  }
  // Runs full registry passes until `condition` holds; a busy machine may take a few.
  bool registrySees(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (std::chrono::steady_clock::now() < deadline) {
      if (passNow() && condition()) return true;
    }
    return condition();
  }
  bool pump(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 8000ms) {
    return runUntil([&] {
      window->pump();
      return condition();
    }, timeout);
  }
  bool xdotool(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "xdotool");
    return session->runTool(arguments);
  }
  // Drags with the X server's pointer from one point of the overview to another.
  void dragWithThePointer(Point from, Point to) {
    const auto at = [](double v) { return std::to_string(static_cast<int>(std::lround(v))); };
    ASSERT_TRUE(xdotool({"mousemove", at(from.x), at(from.y)}));
    ASSERT_TRUE(xdotool({"mousedown", "1"}));
    ASSERT_TRUE(xdotool({"mousemove", at(from.x + 12), at(from.y + 6)}));
    ASSERT_TRUE(pump([&] { return controller->carried().has_value(); })) << "the press picked nothing up";
    ASSERT_TRUE(xdotool({"mousemove", at(to.x), at(to.y)}));
    ASSERT_TRUE(xdotool({"mouseup", "1"}));
    ASSERT_TRUE(pump([&] { return !controller->carried() && controller->moveTask().valid() && controller->moveTask().isDone(); },
                     15000ms));
  }
  const OverviewGeometry::Cell* cellOf(uint32_t id) {
    for (const auto& cell : controller->plan().cells) {
      if (cell.windowID == id) return &cell;
    }
    return nullptr;
  }
  std::optional<size_t> regionOf(uint32_t desktop, uint32_t display) {
    const auto& regions = controller->plan().regions;
    for (size_t i = 0; i < regions.size(); ++i) {
      if (regions[i].spaceID == int64_t{desktop} + 1 && regions[i].displayID == display) return i;
    }
    return std::nullopt;
  }
  Point centreOf(const Rect& r) { return {r.midX(), r.midY()}; }

  bool logged(const std::string& prefix) {
    for (const std::string& m : logs.messages("Overview")) {
      if (m.rfind(prefix, 0) == 0) return true;
    }
    return false;
  }

  std::shared_ptr<VulkanDevice> device;
  std::mutex validationMutex;
  std::vector<std::string> validationMessages;
  std::unique_ptr<SpaceMap> spaces;
  std::unique_ptr<WindowMover> mover;
  std::unique_ptr<RegistryOverviewCards> cards;
  NoPictures pictures;
  std::unique_ptr<X11OverviewWindow> window;
  std::unique_ptr<OverviewRenderer> renderer;
  std::shared_ptr<OverviewController> controller;
  LogCapture logs;
};

TEST_P(X11OverviewTest, ADropChangesTheDesktopOrTheMonitorOrIsReportedAsPutBack) {
  // Four desktops, each holding a window (i3 keeps only desktops that hold windows), and a second
  // window on the first desktop (beside the first, under a tiling manager), opened before anything
  // moves so that it opens there.
  std::vector<uint32_t> windows;
  // Apart, so that a press on one miniature never lands on the other.
  const std::pair<const char*, const char*> opened[] = {{"Desk 0", "400x300+100+100"}, {"Desk 0b", "300x200+500+600"},
                                                        {"Desk 1", "400x300+100+100"}, {"Desk 2", "400x300+100+100"},
                                                        {"Desk 3", "400x300+100+100"}};
  for (const auto& [title, geometry] : opened) {
    windows.push_back(launch({"--title", title, "--class", "desk,Desk", "--geometry", geometry}));
    ASSERT_NE(windows.back(), 0u);
  }
  for (uint32_t d = 1; d < 4; ++d) ASSERT_TRUE(session->moveToDesktop(windows[d + 1], d));
  ASSERT_TRUE(X11Session::waitUntil([&] { return desktops->numberOfDesktops() == 4u; }));
  const uint32_t moving = windows[0];
  registry().start();
  // The first two windows share a desktop: the one i3 showed when they opened (it may make one for
  // each monitor), the first otherwise. The registry has them where the window manager put them (a
  // tiling manager places them after they open).
  ASSERT_TRUE(eventually(windows[0], [](const X11Window& w) { return w.desktop.has_value(); }));
  const uint32_t home = *read(windows[0])->desktop;
  ASSERT_EQ(read(windows[1])->desktop, home);
  // The window manager has carried out the moves to the other desktops.
  ASSERT_TRUE(eventually(windows[4], [&](const X11Window& w) { return w.desktop && w.desktop != home; }));
  const std::optional<uint32_t> elsewhere = read(windows[4])->desktop;
  const std::set<int64_t> homeSpace{int64_t{home} + 1};
  ASSERT_TRUE(registrySees([&] {
    for (uint32_t id : {windows[0], windows[1]}) {
      if (!card(id) || card(id)->spaceIDs != homeSpace || card(id)->frame != read(id)->frame.toRect()) {
        return false;
      }
    }
    return true;
  }));
  openOverview();
  if (HasFatalFailure()) return;

  // A drop on another desktop's tile of its own monitor: the window's desktop changes.
  const OverviewGeometry::Cell* cell = cellOf(moving);
  ASSERT_TRUE(cell);
  const uint32_t display = controller->plan().regions[cell->regionIndex].displayID;
  const std::optional<size_t> target = regionOf(*elsewhere, display);
  ASSERT_TRUE(target);
  dragWithThePointer(centreOf(cell->rect), centreOf(controller->plan().regions[*target].rect));
  EXPECT_TRUE(eventually(moving, [&](const X11Window& w) { return w.desktop == elsewhere; }))
      << "_NET_WM_DESKTOP is " << read(moving)->desktop.value_or(99);
  EXPECT_TRUE(logged("moved a window of Desk (display: false, desktop: true)"));

  // A drop on the other monitor's band, same desktop: the frame moves there, or a tiling manager
  // puts the window back, which is the refusal.
  const uint32_t second = windows[1];
  ASSERT_TRUE(registrySees([&] { return card(second) && card(second)->spaceIDs == homeSpace; }));
  controller->show();
  cell = cellOf(second);
  ASSERT_TRUE(cell);
  const uint32_t from = controller->plan().regions[cell->regionIndex].displayID;
  const uint32_t to = controller->plan().bands[0].displayID == from ? controller->plan().bands[1].displayID
                                                                   : controller->plan().bands[0].displayID;
  const std::optional<size_t> otherBand = regionOf(home, to);
  ASSERT_TRUE(otherBand);
  const Rect before = read(second)->frame.toRect();
  dragWithThePointer(centreOf(cell->rect), centreOf(controller->plan().regions[*otherBand].rect));
  const bool toTheRight = controller->plan().regions[*otherBand].displayFrame.x >= 960;
  if (GetParam() == Manager::i3) {
    EXPECT_TRUE(logged("did not move a window of Desk: appPutItBack")) << "the tiled window went back";
    EXPECT_EQ(read(second)->frame.toRect(), before);
  } else {
    EXPECT_TRUE(eventually(second, [&](const X11Window& w) { return toTheRight ? w.frame.x >= 960 : w.frame.right() <= 960; }))
        << "the frame is at x " << read(second)->frame.x << ", log: " << testing::PrintToString(logs.messages("Overview"));
    EXPECT_TRUE(logged("moved a window of Desk (display: true, desktop: false)"));
  }
}

// The planner sends this program's own windows through its application object, in bottom-left
// coordinates: they land where the overview puts them.
TEST_P(X11OverviewTest, OurOwnWindowTakesTheFrameItIsGiven) {
  if (GetParam() == Manager::i3) GTEST_SKIP() << "i3 keeps a tiled window in its tile";
  std::string error;
  auto own = X11ArgbWindow::open(session->display(), {"Quorvel settings", {100, 100, 500, 400}, false}, &error);
  ASSERT_TRUE(own) << error;
  own->show();
  OwnApplication& app = platform->services().ownApplication;
  ASSERT_TRUE(runUntil([&] {
    for (const OwnWindow& w : app.windows()) {
      if (w.number == own->window()) return true;
    }
    return false;
  }));
  // Framed: the decorations are part of the frame asked for.
  ASSERT_TRUE(eventually(own->window(), [](const X11Window& w) { return w.frame.height > 400; }));
  // The right monitor's lower half, as bottom-left coordinates of the 1080-high primary monitor.
  ASSERT_TRUE(app.setFrame(own->window(), {1200, 100, 400, 300}));
  EXPECT_TRUE(eventually(own->window(), [](const X11Window& w) { return w.frame == X11Rect{1200, 680, 400, 300}; }))
      << read(own->window())->frame.x << "," << read(own->window())->frame.y << " " << read(own->window())->frame.width
      << "x" << read(own->window())->frame.height;
}

INSTANTIATE_TEST_SUITE_P(Managers, X11OverviewTest, ::testing::Values(Manager::openbox, Manager::i3),
                         [](const auto& info) { return std::string(X11Session::name(info.param)); });

}  // namespace
}  // namespace quorvel
