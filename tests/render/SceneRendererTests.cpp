#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

#include "ManualDisplayLink.h"
#include "RendererFixture.h"
#include "base/LogCapture.h"
#include "scene/render/SceneRenderer.h"
#include "scene/render/SnapshotBuilder.h"

namespace quorvel {
namespace {

using testing::ManualDisplayLink;
using testing::RendererFixture;

WindowCard windowCard(uint32_t id, Rect frame, WindowState state = WindowState::onCurrentSpace) {
  WindowCard c;
  c.id = id;
  c.orderingID = id;
  c.pid = static_cast<int32_t>(200 + id);
  c.title = "Window " + std::to_string(id);
  c.appName = "App";
  c.frame = frame;
  c.state = state;
  return c;
}

class SceneRendererTest : public ::testing::Test {
 protected:
  void SetUp() override {
    f.pictures[1] = f.texture(64, 40, "picture");
    renderer = SceneRenderer::makeRenderer(
        f.context, f.surface, f.providers(), [this](int index, FocusChangeSource) { focused.push_back(index); },
        services());
    ASSERT_TRUE(renderer && renderer->core());
  }
  void TearDown() override {
    if (renderer) renderer->shutdown();
    for (auto& link : links) link->release();
  }
  SceneRenderer::Services services() {
    return SceneRenderer::Services{f.loop.main(), f.loop.clock(), f.wake, f.settings, [this] {
                                     auto link = std::make_shared<ManualDisplayLink>();
                                     links.push_back(link);
                                     return link;
                                   }};
  }
  std::vector<WindowCard> cards(int n) {
    std::vector<WindowCard> list;
    for (int i = 0; i < n; ++i) list.push_back(windowCard(static_cast<uint32_t>(i + 1), {100.0 * i, 50, 800, 500}));
    return list;
  }

  RendererFixture f;
  std::unique_ptr<SceneRenderer> renderer;
  std::vector<std::shared_ptr<ManualDisplayLink>> links;
  std::vector<int> focused;
};

TEST_F(SceneRendererTest, TwoPresentsMakeOneThreadAndStopThenPresentResumesIt) {
  EXPECT_FALSE(renderer->hasRenderThread());
  renderer->present(cards(3), {}, false, 0, 120);
  renderer->present(cards(4), {}, false, 1, 120);
  ASSERT_EQ(links.size(), 1u);
  EXPECT_TRUE(renderer->hasRenderThread());
  EXPECT_FALSE(links[0]->paused());
  EXPECT_EQ(links[0]->refreshRate, 120);
  EXPECT_TRUE(links[0]->fire(1.0));
  EXPECT_GE(f.device->commandBufferCount(), 1u);
  EXPECT_EQ(f.lastCommandBuffer().label, "Quorvel ring");

  renderer->stop();
  EXPECT_TRUE(links[0]->paused());
  EXPECT_FALSE(links[0]->fire(1.1));
  renderer->present(cards(2), {}, false, 0, 0);
  EXPECT_EQ(links.size(), 1u) << "no new thread";
  EXPECT_FALSE(links[0]->paused());
  EXPECT_EQ(links[0]->refreshRate, 0) << "unknown: the link paces at 60";
  renderer->state()->withLock([&](SceneState::Storage& s) { f.wake.wake(s, [](auto& st) { SceneState::step(st, 1); }); });
  EXPECT_TRUE(links[0]->fire(2.0));
  f.loop.runUntilIdle();
  EXPECT_EQ(focused, std::vector<int>{1}) << "the focus sink hears of the step on the main queue";
}

TEST_F(SceneRendererTest, ShutdownWithoutAPresentDoesNothingAndAfterOneEndsTheThread) {
  LogCapture logs;
  renderer->shutdown();
  EXPECT_FALSE(renderer->hasRenderThread());
  EXPECT_FALSE(logs.contains("render loop shut down"));

  renderer->present(cards(2), {}, false, 0, 60);
  renderer->shutdown();
  EXPECT_FALSE(renderer->hasRenderThread());
  EXPECT_EQ(links[0]->runs.load(), 1);
  EXPECT_TRUE(logs.contains("render loop shut down"));
  renderer->present(cards(2), {}, false, 0, 60);
  EXPECT_EQ(links.size(), 2u) << "a present after shutdown makes a new link and thread";
}

// A window surface whose next image comes late (a present or a submission the GPU holds up). Its end
// is slow too, as a swapchain's can be, and is told.
class StallingSurface final : public GpuSurface {
 public:
  StallingSurface(std::shared_ptr<GpuSurface> inner, std::shared_ptr<std::atomic<bool>> gone)
      : inner_(std::move(inner)), gone_(std::move(gone)) {}
  ~StallingSurface() override {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    *gone_ = true;
  }
  Size bounds() const override { return inner_->bounds(); }
  void setBounds(Size bounds) override { inner_->setBounds(bounds); }
  double contentsScale() const override { return inner_->contentsScale(); }
  void setContentsScale(double scale) override { inner_->setContentsScale(scale); }
  uint32_t drawableWidth() const override { return inner_->drawableWidth(); }
  uint32_t drawableHeight() const override { return inner_->drawableHeight(); }
  void setDrawableSize(uint32_t width, uint32_t height) override { inner_->setDrawableSize(width, height); }
  std::shared_ptr<GpuDrawable> nextDrawable() override {
    std::unique_lock lock(mutex_);
    if (stalling_) {
      stalled_ = true;
      changed_.notify_all();
      while (!(until_ && std::chrono::steady_clock::now() >= *until_)) {
        if (until_) changed_.wait_until(lock, *until_);
        else changed_.wait(lock);
      }
    }
    lock.unlock();
    return inner_->nextDrawable();
  }
  // From the next image on, the surface holds the frame up until endStall.
  void stallFrom() {
    std::lock_guard lock(mutex_);
    stalling_ = true;
  }
  bool waitUntilStalled() {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(30), [&] { return stalled_; });
  }
  // The held frame goes on `after` from now.
  void endStall(std::chrono::milliseconds after) {
    std::lock_guard lock(mutex_);
    until_ = std::chrono::steady_clock::now() + after;
    changed_.notify_all();
  }

 private:
  std::shared_ptr<GpuSurface> inner_;
  std::shared_ptr<std::atomic<bool>> gone_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::optional<std::chrono::steady_clock::time_point> until_;
  bool stalling_ = false;
  bool stalled_ = false;
};

// A frame that outlasts the shutdown's wait (a second, or for good): the shutdown reports it and
// goes on, freeing nothing the thread holds; the process's end (as the program ends) waits for the
// thread, or names it when it never ends, and once it has ended every reference it held has gone.
TEST_F(SceneRendererTest, AFrameOutlastingTheShutdownWaitIsLeftRunningAndTheEndWaitsForItOrNamesIt) {
  for (const bool forGood : {false, true}) {
    SCOPED_TRACE(forGood ? "a frame that never returns" : "a frame of a second");
    LogCapture logs;
    auto gone = std::make_shared<std::atomic<bool>>(false);
    auto surface = std::make_shared<StallingSurface>(f.surface, gone);
    auto stalled = SceneRenderer::makeRenderer(f.context, surface, f.providers(), {}, services());
    stalled->present(cards(2), {}, false, 0, 60);
    surface->stallFrom();
    ASSERT_TRUE(links.back()->send(1.0));
    ASSERT_TRUE(surface->waitUntilStalled());
    std::weak_ptr<CardRenderer> core = stalled->core();
    StallingSurface* held = surface.get();  // the thread holds it until its frame ends
    stalled->shutdown();
    EXPECT_TRUE(logs.contains("render thread did not end within 0.3 s; it is left to finish on its own"));
    ASSERT_EQ(RenderThreads::running().size(), 1u) << "the shutdown left the frame running";
    stalled.reset();
    surface.reset();
    EXPECT_FALSE(core.expired()) << "the thread still holds its renderer";
    EXPECT_FALSE(*gone) << "and its surface";
    if (forGood) {
      const std::vector<std::string> left = RenderThreads::endAll(std::chrono::milliseconds(300));
      ASSERT_EQ(left.size(), 1u);
      EXPECT_TRUE(left[0].starts_with("net.tarmeq.quorvel.render (thread ")) << left[0];
      EXPECT_FALSE(core.expired() || *gone) << "nothing the frame holds is freed under it";
    }
    // The frame returns a second from now (at once, after the one that never would, for the test's end).
    held->endStall(std::chrono::milliseconds(forGood ? 0 : 1000));
    EXPECT_TRUE(RenderThreads::endAll(std::chrono::seconds(30)).empty());
    EXPECT_TRUE(core.expired() && *gone) << "the thread let go of everything before it counted as ended";
    EXPECT_TRUE(RenderThreads::running().empty());
  }
}

TEST_F(SceneRendererTest, PresentLogsAndSyncsTheDrawableSizeFromTheBoundsAndScale) {
  LogCapture logs;
  f.surface->setBounds({500, 300});
  f.surface->setContentsScale(2);
  renderer->present(cards(3), {}, true, 12, 60);
  EXPECT_TRUE(logs.contains("present: 3 cards, flyIn=true"));
  EXPECT_EQ(f.surface->drawableWidth(), 1000u);
  EXPECT_EQ(f.surface->drawableHeight(), 600u);
  const int selected = renderer->state()->withLock([](SceneState::Storage& s) { return SceneState::selectedIndex(s); });
  EXPECT_EQ(selected, 2) << "a start index past the end starts at the last card";
}

TEST_F(SceneRendererTest, NoActionDiscsAreHitWhenWindowActionsAreOff) {
  f.store.set("windowActionsEnabled", false);
  f.store.set("showActionButtons", true);
  renderer->present(cards(3), {}, false, 0, 60);
  for (int i = 0; i < 60; ++i) links[0]->fire(1.0 + i / 60.0);
  for (double x = 0; x < 640; x += 20)
    for (double y = 0; y < 400; y += 20) EXPECT_FALSE(renderer->hitTest({x, y}, 640, 400).second);
}

TEST_F(SceneRendererTest, TheCloseAndMinimizeDiscsOfTheSelectedCardAreHit) {
  f.store.set("windowActionsEnabled", true);
  f.store.set("showActionButtons", true);
  auto list = cards(3);
  for (auto& c : list) c.ax = std::make_shared<const AXHandle>(nullptr);
  renderer->present(list, {}, false, 1, 60);
  for (int i = 0; i < 120; ++i) links[0]->fire(1.0 + i / 60.0);
  int closes = 0, minimizes = 0;
  for (double x = 0; x < 640; x += 2)
    for (double y = 0; y < 400; y += 2) {
      auto [index, action] = renderer->hitTest({x, y}, 640, 400);
      EXPECT_EQ(index, 1);
      if (action == CardAction::close) ++closes;
      if (action == CardAction::minimize) ++minimizes;
    }
  EXPECT_GT(closes, 0);
  EXPECT_GT(minimizes, 0);
}

TEST(SnapshotBuilderTest, AspectHeightAndWindowRectFollowTheWindow) {
  SnapshotBuilder::Options options;
  options.layerBounds = {1000, 500};
  EXPECT_FLOAT_EQ(SnapshotBuilder::snapshot(windowCard(1, {0, 0, 3200, 1000}), {}, options).aspect, 2.0f);
  EXPECT_FLOAT_EQ(SnapshotBuilder::snapshot(windowCard(1, {0, 0, 800, 0}), {}, options).aspect, 1.6f);
  EXPECT_FLOAT_EQ(SnapshotBuilder::snapshot(windowCard(1, {0, 0, NAN, 10}), {}, options).aspect, 1.6f);
  options.preserveWindowScale = true;
  options.sessionTallest = 900;
  EXPECT_FLOAT_EQ(SnapshotBuilder::snapshot(windowCard(1, {0, 0, 800, 450}), {}, options).heightFactor, 0.5f);
  EXPECT_FLOAT_EQ(SnapshotBuilder::snapshot(windowCard(1, {0, 0, 800, 300}), {}, options).heightFactor, 0.5f);
  EXPECT_FLOAT_EQ(SnapshotBuilder::snapshot(windowCard(1, {0, 0, 800, 900}), {}, options).heightFactor, 1.0f);
  const CardSnapshot placed = SnapshotBuilder::snapshot(windowCard(1, {0, 0, 10, 10}), Rect{100, 50, 500, 250}, options);
  EXPECT_EQ(placed.windowRect, (ViewportRect{{0.1f, 0.1f}, {0.5f, 0.5f}}));
  EXPECT_EQ(SnapshotBuilder::snapshot(windowCard(1, {0, 0, 10, 10}), Rect{100, 50, 0, 250}, options).windowRect,
            ViewportRect{});
  options.layerBounds = {};
  EXPECT_EQ(SnapshotBuilder::snapshot(windowCard(1, {0, 0, 10, 10}), Rect{100, 50, 500, 250}, options).windowRect,
            ViewportRect{});
  EXPECT_FLOAT_EQ(SnapshotBuilder::sessionTallest({}), 1.0f);
}

TEST(SnapshotBuilderTest, LabelsTitlesStatusAndActions) {
  SnapshotBuilder::Options options;
  options.labelPlaceholders = true;
  options.showCardTitles = true;
  WindowCard tab = windowCard(5, {0, 0, 800, 600}, WindowState::browserTab);
  tab.title = std::string(30, 'a') + "b" + std::string(30, 'c');  // 61 characters
  tab.ax = std::make_shared<const AXHandle>(nullptr);
  const CardSnapshot s = SnapshotBuilder::snapshot(tab, {}, options);
  ASSERT_TRUE(s.label && s.label->tabTitle);
  EXPECT_EQ(*s.label->tabTitle, std::string(30, 'a') + "\u2026" + std::string(29, 'c'));
  EXPECT_TRUE(s.status.isTab);
  EXPECT_FALSE(s.canAct) << "a tab card cannot be closed or minimized";
  ASSERT_TRUE(s.title);
  EXPECT_EQ(s.title->text, std::string(20, 'a') + "\u2026" + std::string(19, 'c'));

  WindowCard other = windowCard(6, {0, 0, 800, 600}, WindowState::onOtherSpace);
  other.spaceNumber = 3;
  other.title = "   ";
  other.appName = " Mail ";
  other.ax = std::make_shared<const AXHandle>(nullptr);
  const CardSnapshot o = SnapshotBuilder::snapshot(other, {}, options);
  EXPECT_EQ(o.status.spaceNumber, 3);
  EXPECT_EQ(o.label->spaceNumber, 3);
  EXPECT_EQ(o.title->text, "Mail") << "a blank title falls back to the application";
  EXPECT_TRUE(o.canAct);
  EXPECT_EQ(SnapshotBuilder::clippedTitle("\u00e9t\u00e9", ""), "\u00e9t\u00e9");
  EXPECT_EQ(SnapshotBuilder::elided("0123456789", 10, 2, 2), "0123456789");
  EXPECT_EQ(SnapshotBuilder::elided("0123456789A", 10, 2, 2), "01\u20269A");
}

TEST(SnapshotBuilderTest, PilesFollowTheBunchingSettings) {
  WindowCard host = windowCard(10, {0, 0, 800, 600});
  WindowCard tab1 = windowCard(0xC0000001u, {0, 0, 800, 600}, WindowState::browserTab);
  WindowCard tab2 = windowCard(0xC0000002u, {0, 0, 800, 600}, WindowState::browserTab);
  tab1.tab = WindowCard::TabFacts{};
  tab1.tab->hostWindowID = 10;
  tab2.tab = tab1.tab;
  WindowCard lone = windowCard(11, {0, 0, 800, 600});
  const std::vector<WindowCard> list{host, tab1, tab2, lone};
  const ClusterAssignment none = SnapshotBuilder::clusters(list, {});
  EXPECT_FALSE(none.bunches());
  const ClusterAssignment tabs = SnapshotBuilder::clusters(list, {true, false, false});
  EXPECT_TRUE(tabs.bunches());
  EXPECT_EQ(tabs.pileCount(), 2) << "the window joins its tabs' pile";
  const ClusterAssignment beside = SnapshotBuilder::clusters(list, {true, false, true});
  EXPECT_EQ(beside.pileCount(), 3) << "the window keeps its own card beside its tabs";
}

}  // namespace
}  // namespace quorvel
