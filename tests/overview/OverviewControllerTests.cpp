#include <gtest/gtest.h>

#include "actions/MoveRunner.h"
#include "actions/overview/OverviewController.h"
#include "actions/overview/OverviewPointer.h"
#include "ax/AXFunnel.h"
#include "ax/AXHandle.h"
#include "base/DefaultsStore.h"
#include "base/LogCapture.h"
#include "base/LogHub.h"
#include "base/ManualLoop.h"
#include "gpu/recording/RecordingDevice.h"
#include "platform/sim/SimDesktop.h"
#include "platform/sim/SimWindow.h"
#include "settings/AppSettings.h"
#include "windows/SpaceMap.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;

class FakeCards final : public OverviewCardSource {
 public:
  std::vector<WindowCard> cards() override { return list; }
  Task<void> refreshAfterMove() override {
    ++refreshes;
    co_return;
  }
  std::vector<WindowCard> list;
  int refreshes = 0;
};

class FakePictures final : public OverviewPictureSource {
 public:
  std::optional<CardPicture> entry(uint32_t id) override {
    auto it = pictures.find(id);
    if (it == pictures.end()) return std::nullopt;
    return it->second;
  }
  Task<void> captureMissing(std::vector<WindowCard> cards) override {
    captured += cards.size();
    co_return;
  }
  void beginPresentation() override { ++begun; }
  void endPresentation() override { ++ended; }
  std::map<uint32_t, CardPicture> pictures;
  size_t captured = 0;
  int begun = 0, ended = 0;
};

class FakeWindow final : public OverviewWindowHost {
 public:
  bool isVisible() const override { return visible; }
  Size canvasSize() const override { return {1600, 900}; }
  void show() override { visible = true; }
  void orderOut() override { visible = false; }
  void beep() override { ++beeps; }
  bool visible = false;
  int beeps = 0;
};

// Two displays side by side with two desktops each, an editor with windows on them, and the
// overview over them, drawing on the recording device.
class OverviewControllerTest : public ::testing::Test {
 protected:
  static constexpr int32_t kPid = 300;

  OverviewControllerTest() {
    LogHub::shared().setStandardErrorEnabled(false);
    settings.registerDefaults();
    sim.launchApp({.pid = kPid, .bundleID = "com.example.editor", .name = "Editor"});
    surface->setBounds({1600, 900});
    surface->setContentsScale(1);
    surface->setDrawableSize(1600, 900);
    controller->attach(&window, renderer.get());
  }
  ~OverviewControllerTest() override { LogHub::shared().setStandardErrorEnabled(true); }

  SimWindow& open(Rect frame, std::optional<int64_t> desktop = std::nullopt) {
    SimWindow& w = sim.openWindow(kPid, {.title = "w", .frame = frame, .desktop = desktop});
    cards.list.push_back(cardFor(w));
    return w;
  }
  WindowCard cardFor(const SimWindow& w, WindowState state = WindowState::onCurrentSpace) {
    WindowCard card;
    card.id = w.number;
    card.orderingID = w.number;
    card.pid = kPid;
    card.appName = "Editor";
    card.frame = *sim.windowFrame(w.number);
    card.ax = AXHandle::make(w.ref());
    card.state = state;
    for (int64_t space : sim.desktopsOf(w.number)) card.spaceIDs.insert(space);
    return card;
  }
  std::optional<DesktopMap> readMap() { return DesktopMap::read(spaces, sim.displays()); }
  size_t regionOf(int64_t space, uint32_t display) const {
    const auto& regions = controller->plan().regions;
    for (size_t i = 0; i < regions.size(); ++i) {
      if (regions[i].spaceID == space && regions[i].displayID == display) return i;
    }
    ADD_FAILURE() << "no tile for desktop " << space;
    return 0;
  }
  Point centreOf(const Rect& r) const { return {r.midX(), r.midY()}; }
  const OverviewGeometry::Cell& cellOf(uint32_t id) const {
    for (const auto& cell : controller->plan().cells) {
      if (cell.windowID == id) return cell;
    }
    static OverviewGeometry::Cell none;
    ADD_FAILURE() << "no miniature of " << id;
    return none;
  }
  // Drags the window's miniature onto a tile through the view's pointer and lets the move run.
  void drag(uint32_t id, size_t region) {
    const Point from = centreOf(cellOf(id).rect);
    pointer.mouseDown(from);
    pointer.mouseDragged({from.x + 10, from.y});
    const Point to = centreOf(controller->plan().regions[region].rect);
    pointer.mouseDragged(to);
    pointer.mouseUp(to);
    loop.runUntil([&] { return controller->moveTask().isDone(); }, 2s);
  }

  ManualLoop loop;
  SimDesktop sim{loop, {.displays = {SimDisplaySpec{.id = 1, .desktops = 2},
                                     SimDisplaySpec{.id = 2, .frame = {1920, 0, 1920, 1080}, .desktops = 2}}}};
  AXFunnel funnel{loop};
  SpaceMap spaces{sim.desktopServer()};
  WindowMover mover{{sim.accessibility(), spaces, sim.displays(), true}};
  DefaultsStore store;
  AppSettings settings{store};
  FakeCards cards;
  FakePictures pictures;
  FakeWindow window;
  std::vector<uint32_t> picked;
  std::shared_ptr<OverviewController> controller = OverviewController::make({
      loop.main(), cards, pictures, mover, funnel, sim.ownApplication(), settings, 1,
      [this](const WindowCard& card) { picked.push_back(card.id); }, [this] { return readMap(); },
      [] { return true; }, true});
  std::shared_ptr<RecordingDevice> device = RecordingDevice::make();
  std::shared_ptr<GpuOffscreenSurface> surface = device->makeOffscreenSurface("overview");
  std::unique_ptr<OverviewRenderer> renderer = OverviewRenderer::make(GpuContext::make(device), *surface);
  OverviewPointer pointer;
  LogCapture logs;
};

TEST_F(OverviewControllerTest, MiniaturesFollowTheWindowsDesktopsAndACarriedWindowIsGhostedOnEachTile) {
  const auto left = sim.desktops(1);
  SimWindow& both = open({100, 100, 800, 600});
  sim.moveWindowToDesktop(both.number, left[0]);
  sim.setSticky(both.number, false);
  cards.list.back().spaceIDs = {left[0], left[1]};  // listed on two desktops
  SimWindow& hidden = open({200, 200, 400, 300});
  cards.list.back().state = WindowState::minimized;
  WindowCard tab = cards.list.front();
  tab.id = 99;
  tab.state = WindowState::browserTab;
  cards.list.push_back(tab);
  controller->open();
  EXPECT_EQ(pictures.begun, 1);
  ASSERT_EQ(controller->plan().regions.size(), 4u);
  ASSERT_EQ(controller->plan().cells.size(), 2u) << "minimized windows and tabs have no miniature";
  EXPECT_NE(controller->plan().cells[0].regionIndex, controller->plan().cells[1].regionIndex);
  (void)hidden;

  std::shared_ptr<OverviewController> delegate = controller;
  pointer.setDelegate(delegate);
  const Point from = centreOf(controller->plan().cells[0].rect);
  pointer.mouseDown(from);
  pointer.mouseDragged({from.x + 3.9, from.y});
  EXPECT_FALSE(pointer.isDragging()) << "3.9 points is still a click";
  pointer.mouseDragged({from.x + 4, from.y});
  ASSERT_TRUE(controller->carried());
  const OverviewRenderer::Scene scene = controller->makeScene();
  EXPECT_TRUE(scene.miniatures[0].isGhost && scene.miniatures[1].isGhost);
  ASSERT_TRUE(scene.carried);
  EXPECT_FALSE(scene.carried->isGhost);

  // Released outside every tile: nothing moves and the miniature is back in its cell.
  pointer.mouseUp({5, 5});
  loop.runUntilIdle();
  EXPECT_FALSE(controller->carried());
  EXPECT_FALSE(controller->makeScene().miniatures[0].isGhost);
  EXPECT_EQ(window.beeps, 0);
  EXPECT_TRUE(window.visible);
}

TEST_F(OverviewControllerTest, ClicksGoToADesktopCloseOrBeep) {
  const auto left = sim.desktops(1);
  SimWindow& other = open({100, 100, 800, 600}, left[1]);
  open({300, 300, 400, 300}, left[1]);
  controller->open();
  std::shared_ptr<OverviewController> delegate = controller;
  pointer.setDelegate(delegate);

  // An empty desktop: a beep and the overview stays.
  const size_t empty = regionOf(sim.desktops(2)[1], 2);
  pointer.mouseDown(centreOf(controller->plan().regions[empty].rect));
  pointer.mouseUp(centreOf(controller->plan().regions[empty].rect));
  EXPECT_EQ(window.beeps, 1);
  EXPECT_TRUE(window.visible);
  EXPECT_TRUE(logs.contains("desktop 4 has no window to go to"));

  // A desktop with windows: the overview closes and the first window comes forward.
  const Point tile = centreOf(controller->plan().regions[regionOf(left[1], 1)].rect);
  pointer.mouseDown({tile.x + 1, tile.y + 60});
  pointer.mouseUp({tile.x + 2, tile.y + 60});
  EXPECT_FALSE(window.visible);
  EXPECT_EQ(picked, (std::vector<uint32_t>{other.number}));
  EXPECT_EQ(pictures.ended, 1);

  // The current desktop's tile closes it without bringing anything forward; hiding a window that
  // is not visible ends no presentation.
  controller->open();
  pointer.mouseDown(centreOf(controller->plan().regions[regionOf(left[0], 1)].rect));
  pointer.mouseUp(centreOf(controller->plan().regions[regionOf(left[0], 1)].rect));
  EXPECT_FALSE(window.visible);
  EXPECT_EQ(picked.size(), 1u);
  controller->hide();
  EXPECT_EQ(pictures.begun, 2);
  EXPECT_EQ(pictures.ended, 2);
}

TEST_F(OverviewControllerTest, ADropMovesTheWindowToTheTilesDesktopAndDisplay) {
  const auto left = sim.desktops(1), right = sim.desktops(2);
  SimWindow& editor = open({100, 100, 800, 600}, left[0]);
  SimWindow& stubborn = open({1000, 200, 400, 300}, left[0]);
  sim.setIgnoresDesktopMoves(stubborn.number);
  controller->open();
  std::shared_ptr<OverviewController> delegate = controller;
  pointer.setDelegate(delegate);

  // Another desktop of its display: the window goes there.
  drag(editor.number, regionOf(left[1], 1));
  EXPECT_EQ(sim.desktopsOf(editor.number), (std::vector<int64_t>{left[1]}));
  EXPECT_EQ(window.beeps, 0);
  EXPECT_EQ(cards.refreshes, 1);
  EXPECT_TRUE(window.visible) << "the overview stays open after a drop";

  // The other display's current desktop: only the frame moves, into that display.
  cards.list = {cardFor(editor), cardFor(stubborn)};
  controller->show();
  drag(editor.number, regionOf(right[0], 2));
  const Rect moved = *sim.windowFrame(editor.number);
  EXPECT_GE(moved.x, 1920);
  EXPECT_LE(moved.maxX(), 3840);

  // A window that does not land on the desktop: a beep and the refusal in the log.
  drag(stubborn.number, regionOf(left[1], 1));
  EXPECT_EQ(window.beeps, 1);
  EXPECT_TRUE(logs.contains("did not move a window of Editor: desktopMoveDidNotLand"));

  // A drop on the desktop it already occupies moves nothing, logs nothing and does not beep.
  cards.list = {cardFor(editor), cardFor(stubborn)};
  controller->show();
  const size_t before = logs.messages("Overview").size();
  drag(stubborn.number, regionOf(left[0], 1));
  EXPECT_EQ(window.beeps, 1);
  EXPECT_EQ(logs.messages("Overview").size(), before);
  EXPECT_FALSE(controller->carried());
}

TEST_F(OverviewControllerTest, APressPicksTheTopmostMiniatureAndARefusedWindowBeeps) {
  open({100, 100, 800, 600});
  SimWindow& top = open({150, 150, 800, 600});
  controller->open();
  controller->beginDrag(centreOf(cellOf(top.number).rect));
  ASSERT_TRUE(controller->carried());
  EXPECT_EQ(controller->carried()->windowID, top.number);
  controller->pointerReleased({1, 1}, false);

  controller->setCapability({false, true, true});
  controller->beginDrag(centreOf(cellOf(top.number).rect));
  EXPECT_FALSE(controller->carried());
  EXPECT_EQ(window.beeps, 1);
  EXPECT_TRUE(logs.contains("not draggable: Quorvel needs Accessibility permission to move windows."));
}

TEST_F(OverviewControllerTest, PicturesThatArriveAreDrawnAndTheFollowUpGivesUpAfterFortyPasses) {
  SimWindow& first = open({100, 100, 800, 600});
  SimWindow& second = open({1000, 100, 800, 600});
  controller->open();
  loop.runUntilIdle();
  EXPECT_EQ(pictures.captured, 2u);
  const size_t drawn = device->commandBufferCount();
  pictures.pictures[first.number] = CardPicture{device->makeTexture({64, 40, 1, false, "picture"}), {}, true};
  loop.advance(150ms);
  EXPECT_EQ(device->commandBufferCount(), drawn + 1) << "a new picture is drawn at the next pass";
  loop.advance(150ms * 3);
  EXPECT_EQ(device->commandBufferCount(), drawn + 1) << "nothing new, nothing drawn";
  EXPECT_FALSE(controller->pictureFollowUp().isDone());
  loop.advance(150ms * 40);
  EXPECT_TRUE(controller->pictureFollowUp().isDone()) << "the second window's picture never came";
  (void)second;
}

TEST(OverviewPointerTest, EscapeStopsHereAndDragsNeedAPress) {
  struct Recorder final : OverviewViewDelegate {
    void beginDrag(Point) override { calls.push_back("press"); }
    void dragMoved(Point) override { calls.push_back("drag"); }
    void pointerReleased(Point, bool dragging) override { calls.push_back(dragging ? "drop" : "click"); }
    void pointerMoved(Point) override { calls.push_back("move"); }
    void hide() override { calls.push_back("hide"); }
    std::vector<std::string> calls;
  };
  OverviewPointer pointer;
  EXPECT_TRUE(pointer.keyDown(true)) << "Escape is handled without a delegate too";
  EXPECT_FALSE(pointer.keyDown(false));
  auto recorder = std::make_shared<Recorder>();
  pointer.setDelegate(recorder);
  pointer.mouseDragged({10, 10});
  pointer.mouseDown({0, 0});
  pointer.mouseDragged({0, 5});
  pointer.mouseUp({0, 5});
  pointer.keyDown(true);
  EXPECT_EQ(recorder->calls, (std::vector<std::string>{"press", "drag", "drop", "hide"}));
}

}  // namespace
}  // namespace quorvel
