#include <gtest/gtest.h>

#include "CaptureFakes.h"
#include "base/ManualLoop.h"
#include "pictures/StillAcceptance.h"
#include "pictures/WindowCapture.h"
#include "platform/sim/SimDesktop.h"
#include "platform/sim/SimScreenCapture.h"
#include "platform/sim/SimWindow.h"

namespace quorvel {
namespace {

using Provenance = ThumbnailCache::Provenance;

PixelBuffer withClearEdges(int w, int h, int columns, int rows) {
  SimPicture picture{0xFFFFFFFF, columns, rows};
  std::vector<uint8_t> pixels(static_cast<size_t>(w) * h * 4, 0xFF);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if (x >= w - picture.transparentRightColumns || y >= h - picture.transparentBottomRows)
        std::fill_n(pixels.data() + (static_cast<size_t>(y) * w + x) * 4, 4, 0);
  return PixelBuffer::adopting(w, h, std::move(pixels));
}

TEST(StillAcceptance, TransparentMarginsAreToleratedUpToOnePercent) {
  EXPECT_TRUE(StillAcceptance::acceptsStill(withClearEdges(1920, 1200, 19, 0)));
  EXPECT_FALSE(StillAcceptance::acceptsStill(withClearEdges(1920, 1200, 20, 0)));
  EXPECT_EQ(StillAcceptance::transparentMargins(withClearEdges(1920, 1200, 300, 0)).rightColumns, 20);
  EXPECT_FALSE(StillAcceptance::acceptsStill(withClearEdges(64, 64, 64, 64)));  // fully transparent
  EXPECT_TRUE(StillAcceptance::acceptsStill(withClearEdges(150, 80, 2, 2)));
  EXPECT_FALSE(StillAcceptance::acceptsStill(withClearEdges(150, 80, 3, 0)));
  EXPECT_FALSE(StillAcceptance::acceptsStill(withClearEdges(150, 80, 0, 3)));
}

TEST(StillAcceptance, LuminanceSamplesAGridAndMustExceedEight) {
  EXPECT_FALSE(StillAcceptance::acceptsStill(PixelBuffer::filled(40, 30, 0xFF080808)));  // exactly 8.0
  EXPECT_EQ(StillAcceptance::sampledLuminance(PixelBuffer::filled(40, 30, 0xFF080808)), 8.0);
  EXPECT_TRUE(StillAcceptance::acceptsStill(PixelBuffer::filled(40, 30, 0xFF090909)));
  // A window known to have drawn since it was mapped may be dark; its margins still count.
  EXPECT_TRUE(StillAcceptance::acceptsStill(PixelBuffer::filled(40, 30, 0xFF000000), true));
  EXPECT_FALSE(StillAcceptance::acceptsStill(withClearEdges(150, 80, 3, 0), true));
  // Only the 25 grid points count: a 1920 × 1200 picture lit at exactly those points reads bright.
  std::vector<uint8_t> pixels(1920u * 1200 * 4, 0);
  for (int x : {192, 576, 960, 1344, 1728})
    for (int y : {120, 360, 600, 840, 1080}) std::fill_n(pixels.data() + (static_cast<size_t>(y) * 1920 + x) * 4, 4, 0xFF);
  EXPECT_NEAR(StillAcceptance::sampledLuminance(PixelBuffer::adopting(1920, 1200, std::move(pixels))), 255, 0.01);
  EXPECT_EQ(StillAcceptance::sampledLuminance(PixelBuffer{}), 255.0);
}

TEST(WindowCaptureRules, DisplayWithTheLargestOverlapAndNoneOffScreen) {
  const std::vector<ShareableDisplay> displays{{1, {0, 0, 1920, 1080}}, {2, {1920, 0, 1280, 1024}}};
  EXPECT_EQ(WindowCapture::displayFor({100, 100, 800, 600}, displays)->displayID, 1u);
  EXPECT_EQ(WindowCapture::displayFor({1800, 100, 800, 600}, displays)->displayID, 2u);
  // The centre lies below both displays; most of the window is on the second one.
  EXPECT_EQ(WindowCapture::displayFor({1900, 900, 400, 400}, displays)->displayID, 2u);
  EXPECT_FALSE(WindowCapture::displayFor({4000, 4000, 300, 300}, displays));
  EXPECT_FALSE(WindowCapture::displayFor({0, 0, 10, 10}, {}));
}

TEST(WindowCaptureRules, KeepSetHoldsCardsShownTabsAndBankedPicturesOfTheirGroups) {
  WindowCard plain{.id = 1, .orderingID = 1};
  WindowCard secret{.id = 2, .orderingID = 2, .isPrivate = true};
  WindowCard blurred{.id = 3, .orderingID = 3, .isPrivate = true, .blursPicture = true};
  WindowCard tab{.id = 4, .orderingID = 50};
  tab.tab = WindowCard::TabFacts{};
  tab.tab->hostWindowID = 60;
  const std::unordered_map<uint32_t, Provenance> banked{
      {70, Provenance::banked(50)}, {71, Provenance::banked(60)}, {72, Provenance::banked(99)}};
  const auto keep = WindowCapture::keepSet({plain, secret, blurred, tab}, {{1, 80}}, banked);
  EXPECT_EQ(keep, (std::unordered_set<uint32_t>{1, 3, 4, 80, 70}));
  EXPECT_TRUE(WindowCapture::visibleShowingTabs({{1, 80}, {2, 81}, {9, 82}}, {plain, secret}) ==
              (WindowCapture::ShowingTabs{{1, 80}}));
}

class WindowCaptureTest : public ::testing::Test {
 protected:
  ManualLoop loop;
  SimDesktop sim{loop, [] {
                   SimDesktopOptions o;
                   o.displays = {SimDisplaySpec{.id = 1, .frame = {0, 0, 1920, 1080}},
                                 SimDisplaySpec{.id = 2, .frame = {1920, 0, 1280, 1024}}};
                   return o;
                 }()};
  SimScreenCapture& capture = sim.screenCapture();
  std::shared_ptr<RecordingDevice> device = RecordingDevice::make();
  ThumbnailCache cache{GpuContext::make(device), loop.main(), loop.clock(), nullptr};
  RecordingPreparation preparation{cache, device};
  bool hideFromSharing = false;
  WindowCapture captures{{cache, preparation, sim.shareableContent(), capture, 1,
                          [this] { return hideFromSharing; }, [this] { return zOrder(); }}};
  std::vector<WindowCard> cards;

  void SetUp() override { sim.launchApp({.pid = 100, .name = "Editor"}); }

  WindowCapture::ZOrder zOrder() {
    WindowCapture::ZOrder order;
    int i = 0;
    for (uint32_t n : sim.onScreenOrder()) order[n] = i++;
    return order;
  }
  uint32_t open(Rect frame, uint32_t color, int64_t layer = 0, int32_t pid = 100) {
    const uint32_t n = sim.openWindow(pid, {.title = "W", .frame = frame, .layer = layer}).number;
    capture.setPicture(n, {color});
    WindowCard card{.id = n, .orderingID = n, .title = "W", .pid = pid, .frame = frame};
    cards.push_back(card);
    return n;
  }
  WindowCard& card(uint32_t id) {
    return *std::find_if(cards.begin(), cards.end(), [&](const WindowCard& c) { return c.id == id; });
  }
  void summon() {
    spawn(loop.pool(), captures.refreshForSummon(cards, {}, {}));
    loop.runUntilIdle();
  }
  void missing() {
    spawn(loop.pool(), captures.captureMissing(cards, {}, {}));
    loop.runUntilIdle();
  }
  void leave(WindowCapture::VisitTicks visits = {}) {
    spawn(loop.pool(), captures.captureOnLeave(cards, {}, std::move(visits)));
    loop.runUntilIdle();
  }
};

TEST_F(WindowCaptureTest, ASummonTakesWhatIsMissingOrChangedAndLeavesTheRest) {
  const uint32_t a = open({0, 0, 800, 600}, 0xFF0000C0);
  const uint32_t b = open({900, 100, 400, 300}, 0xFF00C000);
  const uint32_t secret = open({100, 700, 300, 200}, 0xFFC00000);
  card(secret).isPrivate = true;
  const uint32_t away = open({100, 100, 300, 200}, 0xFFC0C000);
  card(away).state = WindowState::onOtherSpace;
  summon();
  EXPECT_EQ(preparation.storedColor(a), 0xFF0000C0u);
  EXPECT_EQ(preparation.storedColor(b), 0xFF00C000u);
  EXPECT_FALSE(cache.entryCopy(secret));
  EXPECT_FALSE(cache.entryCopy(away));
  ASSERT_EQ(preparation.calls().size(), 2u);
  EXPECT_TRUE(preparation.calls()[0].cropTabs);
  EXPECT_EQ(capture.windowCaptures(a), 1);

  // Nothing changed: nothing is taken again; a new title or a visit takes that window again.
  summon();
  EXPECT_EQ(capture.windowCapturesTotal(), 2);
  card(b).title = "Renamed";
  summon();
  EXPECT_EQ(capture.windowCaptures(b), 2);
  EXPECT_EQ(capture.windowCaptures(a), 1);
  spawn(loop.pool(), captures.refreshForSummon(cards, {}, {{a, 3}}));
  loop.runUntilIdle();
  EXPECT_EQ(capture.windowCaptures(a), 2);

  // An empty summon drops every picture and takes none.
  cards.clear();
  summon();
  EXPECT_EQ(cache.counts().entries, 0u);
  EXPECT_EQ(capture.windowCapturesTotal(), 4);
}

TEST_F(WindowCaptureTest, LeaveAndMissingPassesPlanTheirOwnWindows) {
  const uint32_t a = open({0, 0, 800, 600}, 0xFF0000C0);
  const uint32_t own = open({900, 100, 400, 300}, 0xFF00C000);
  card(own).pid = 1;  // this program's own window
  cache.beginPresentation();
  leave();
  EXPECT_EQ(capture.windowCapturesTotal(), 0);  // nothing while the overlay is up
  cache.endPresentation();
  leave();
  EXPECT_EQ(capture.windowCaptures(a), 1);
  EXPECT_EQ(capture.windowCaptures(own), 0);
  leave();
  EXPECT_EQ(capture.windowCaptures(a), 1);  // unchanged and not visited
  leave({{a, 1}});
  EXPECT_EQ(capture.windowCaptures(a), 2);  // visited since

  // The missing pass never takes a window that has a picture, even a renamed one.
  card(a).title = "Renamed";
  missing();
  EXPECT_EQ(capture.windowCaptures(a), 2);
  EXPECT_EQ(capture.windowCaptures(own), 1);
}

TEST_F(WindowCaptureTest, TheLiveWindowIsNeverTaken) {
  const uint32_t a = open({0, 0, 800, 600}, 0xFF0000C0);
  cache.setLiveWindow(a, std::nullopt);
  summon();
  missing();
  EXPECT_EQ(capture.windowCaptures(a), 0);
}

TEST_F(WindowCaptureTest, StillsInFlightAreBoundedPerPass) {
  for (int i = 0; i < 9; ++i) open({10.0 * i, 0, 300, 200}, 0xFF404040 + i);
  capture.setCaptureDelay(std::chrono::milliseconds(10));
  spawn(loop.pool(), captures.captureOnLeave(cards, {}, {}));
  loop.runUntil([&] { return cache.counts().entries == 9; }, std::chrono::seconds(5));
  EXPECT_EQ(capture.maxStillsInFlight(), 2);
  cards.push_back(cards.front());
  for (auto& c : cards) c.title = "Changed";
  spawn(loop.pool(), captures.refreshForSummon(cards, {}, {}));
  loop.runUntil([&] { return capture.windowCapturesTotal() == 18; }, std::chrono::seconds(5));
  EXPECT_EQ(capture.maxStillsInFlight(), 4);
  EXPECT_EQ(capture.windowCapturesTotal(), 18);  // the repeated card is taken once
}

TEST_F(WindowCaptureTest, AFailedStillIsTakenAgainByTheNextPass) {
  const uint32_t a = open({0, 0, 800, 600}, 0xFF0000C0);
  capture.failWindowCaptures(a, 1);
  summon();
  EXPECT_FALSE(cache.entryCopy(a));
  EXPECT_FALSE(cache.captureStamp(a));
  summon();
  EXPECT_EQ(preparation.storedColor(a), 0xFF0000C0u);

  // A window that closed after planning gets no picture and keeps no stamp.
  const uint32_t gone = open({0, 0, 300, 300}, 0xFF00C000);
  sim.closeWindow(gone);
  summon();
  EXPECT_FALSE(cache.entryCopy(gone));
  EXPECT_FALSE(cache.captureStamp(gone));

  // Without the window list the summon forgets its plan; the missing pass keeps its stamps.
  const uint32_t b = open({900, 0, 300, 300}, 0xFF00C000);
  sim.failShareableContent("No list", -1);
  summon();
  EXPECT_FALSE(cache.captureStamp(b));
  missing();
  EXPECT_TRUE(cache.captureStamp(b));
  EXPECT_FALSE(cache.entryCopy(b));
}

TEST_F(WindowCaptureTest, ARejectedStillIsCutFromTheDisplayUnlessSomethingCoversIt) {
  const uint32_t a = open({100, 100, 400, 300}, 0xFF0000C0);
  capture.setPicture(a, {0xFF0000C0, 50, 0});  // wide transparent margin: rejected
  summon();
  EXPECT_EQ(capture.displayCaptures(), 1);
  EXPECT_EQ(preparation.storedColor(a), 0xFF0000C0u);
  EXPECT_FALSE(preparation.calls().back().cropTabs);

  // Half covered by a normal window in front: no display picture, and the stamp goes.
  const uint32_t front = open({300, 100, 400, 300}, 0xFF00C000);
  card(a).title = "Again";
  summon();
  EXPECT_EQ(capture.displayCaptures(), 1);
  EXPECT_FALSE(cache.captureStamp(a));
  sim.closeWindow(front);
  cards.pop_back();

  // A panel of another process in front does not count.
  sim.launchApp({.pid = 200, .name = "Panel"});
  open({300, 100, 400, 300}, 0xFF00C000, 8, 200);
  cards.pop_back();
  summon();
  EXPECT_EQ(capture.displayCaptures(), 2);
}

// A window minimized while its display picture was taken: that picture shows what lay behind it,
// and is not stored; the window keeps what it had.
TEST_F(WindowCaptureTest, AWindowThatLeftTheScreenMeanwhileGetsNoDisplayPicture) {
  const uint32_t a = open({100, 100, 400, 300}, 0xFF0000C0);
  capture.setPicture(a, {0xFF0000C0, 50, 0});
  capture.setCaptureDelay(std::chrono::milliseconds(10));
  spawn(loop.pool(), captures.refreshForSummon(cards, {}, {}));
  ASSERT_TRUE(loop.runUntil([&] { return capture.displayCaptures() == 1; }, std::chrono::seconds(5)));
  capture.failWindowCaptures(a);  // X answers so for a window off the screen
  while (loop.advanceToNextTimer()) loop.runUntilIdle();
  EXPECT_EQ(capture.windowCaptures(a), 2);
  EXPECT_FALSE(cache.entryCopy(a));
  EXPECT_FALSE(cache.captureStamp(a));
}

TEST_F(WindowCaptureTest, TheDisplayPictureIsNotTakenWhileItCouldShowTheOverlay) {
  const uint32_t a = open({100, 100, 400, 300}, 0xFF0000C0);
  capture.setPicture(a, {0xFF0000C0, 0, 40});
  cache.beginPresentation();
  summon();
  EXPECT_EQ(capture.displayCaptures(), 0);
  hideFromSharing = true;
  capture.setExcludesOwnWindows(false);
  summon();
  EXPECT_EQ(capture.displayCaptures(), 0);
  capture.setExcludesOwnWindows(true);
  summon();
  EXPECT_EQ(capture.displayCaptures(), 1);
  EXPECT_EQ(preparation.storedColor(a), 0xFF0000C0u);
}

TEST_F(WindowCaptureTest, AWindowOffEveryDisplayIsCutFromTheOneItOverlapsMostOrNone) {
  // Its centre lies in the gap below the shorter second display, which holds most of it.
  const uint32_t a = open({1950, 700, 600, 700}, 0xFF0000C0);
  capture.setPicture(a, {0xFF0000C0, 40, 0});
  summon();
  ASSERT_EQ(capture.displayCaptures(), 1);
  EXPECT_EQ(capture.lastDisplayCaptured(), 2u);
  EXPECT_TRUE(cache.entryCopy(a));

  // On no display at all: no picture of some other part of the screen.
  const uint32_t lost = open({5000, 5000, 300, 300}, 0xFF00C000);
  capture.setPicture(lost, {0xFF00C000, 40, 0});
  summon();
  EXPECT_EQ(capture.displayCaptures(), 1);
  EXPECT_FALSE(cache.entryCopy(lost));
}

TEST_F(WindowCaptureTest, APrivateWindowWithBlurIsStoredOnlyBlurred) {
  const uint32_t a = open({0, 0, 800, 600}, 0xFF0000C0);
  card(a).isPrivate = true;
  card(a).blursPicture = true;
  preparation.failPrepares = true;
  summon();
  EXPECT_FALSE(cache.entryCopy(a));
  EXPECT_FALSE(cache.captureStamp(a));
  preparation.failWraps = true;
  summon();
  EXPECT_FALSE(cache.entryCopy(a));
  EXPECT_TRUE(preparation.calls().empty());
  preparation.failPrepares = preparation.failWraps = false;
  summon();
  ASSERT_EQ(preparation.calls().size(), 1u);
  EXPECT_TRUE(preparation.calls()[0].blur);
  // An unblurred window whose picture cannot be wrapped is copied instead.
  const uint32_t b = open({900, 0, 300, 300}, 0xFF00C000);
  preparation.failWraps = true;
  summon();
  EXPECT_EQ(preparation.calls().back().kind, RecordingPreparation::Call::Kind::copy);
  EXPECT_EQ(preparation.storedColor(b), 0xFF00C000u);
}

TEST_F(WindowCaptureTest, NoPermissionOrACancelledPassTakesNothing) {
  open({0, 0, 800, 600}, 0xFF0000C0);
  sim.setScreenRecordingGranted(false);
  summon();
  missing();
  leave();
  EXPECT_EQ(capture.windowCapturesTotal(), 0);
  sim.setScreenRecordingGranted(true);
  auto handle = spawn(loop.pool(), captures.captureMissing(cards, {}, {}));
  handle.cancel();
  loop.runUntilIdle();
  EXPECT_EQ(capture.windowCapturesTotal(), 0);
}

}  // namespace
}  // namespace quorvel
