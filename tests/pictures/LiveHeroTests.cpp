#include <gtest/gtest.h>

#include "CaptureFakes.h"
#include "base/ManualLoop.h"
#include "pictures/LiveHero.h"
#include "platform/sim/SimDesktop.h"
#include "platform/sim/SimScreenCapture.h"
#include "platform/sim/SimWindow.h"

namespace quorvel {
namespace {

class LiveHeroTest : public ::testing::Test {
 protected:
  ManualLoop loop;
  SimDesktop sim{loop};
  SimScreenCapture& capture = sim.screenCapture();
  std::shared_ptr<RecordingDevice> device = RecordingDevice::make();
  ThumbnailCache cache{GpuContext::make(device), loop.main(), loop.clock(), nullptr};
  RecordingPreparation preparation{cache, device};
  LiveHero live{cache, preparation, sim.shareableContent(), capture};
  uint32_t a = 0, b = 0;

  void SetUp() override {
    sim.launchApp({.pid = 100, .name = "Editor"});
    a = sim.openWindow(100, {.title = "A", .frame = {0, 0, 800, 600}}).number;
    b = sim.openWindow(100, {.title = "B", .frame = {100, 100, 400, 300}}).number;
    capture.setPicture(a, {0xFF0000C0});
    capture.setPicture(b, {0xFF00C000});
  }

  TaskHandle<void> start(uint64_t request, uint32_t window, std::optional<uint32_t> tab = std::nullopt) {
    return spawn(loop.pool(), live.startLiveHero(request, window, tab));
  }
  TaskHandle<void> stop(uint64_t request) { return spawn(loop.pool(), live.stopLiveHero(request)); }
  void frame(uint32_t window, StreamFrameStatus status = StreamFrameStatus::complete) {
    capture.emitFrame(window, status);
    loop.runUntilIdle();
  }
};

TEST_F(LiveHeroTest, FramesBecomeThePictureAndAStopSettlesTheLastOne) {
  start(live.nextRequest(), a, 7);
  loop.runUntilIdle();
  ASSERT_EQ(live.liveWindowID(), a);
  EXPECT_EQ(cache.liveWindowID(), a);
  EXPECT_EQ(capture.runningStreamWindows(), std::vector<uint32_t>{a});

  frame(a, StreamFrameStatus::idle);  // nothing changed: no picture
  EXPECT_FALSE(cache.entryCopy(a));
  frame(a);
  ASSERT_TRUE(cache.entryCopy(a));
  EXPECT_TRUE(cache.entryCopy(a)->pixelBuffer);  // the live frame itself
  EXPECT_EQ(preparation.storedColor(a), 0xFF0000C0u);
  EXPECT_EQ(cache.entryCopy(a)->provenance, ThumbnailCache::Provenance::photograph(7));

  stop(live.nextRequest());
  loop.runUntilIdle();
  EXPECT_FALSE(live.liveWindowID());
  EXPECT_FALSE(cache.liveWindowID());
  EXPECT_EQ(capture.runningStreams(), 0);
  // The last frame became a prepared still of the same window.
  auto calls = preparation.calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].id, a);
  EXPECT_FALSE(calls[0].blur);
  EXPECT_FALSE(calls[0].cropTabs);
  EXPECT_FALSE(cache.entryCopy(a)->pixelBuffer);
  EXPECT_EQ(cache.counts().liveRing, 0u);
  // No frame after the stop.
  EXPECT_FALSE(capture.emitFrame(a));
}

TEST_F(LiveHeroTest, AFrameThatComesWhileTheStreamStartsIsKept) {
  // A window that does not change sends only the frame read as its stream starts.
  capture.setFirstFrameOnStart(true);
  start(live.nextRequest(), a);
  loop.runUntilIdle();
  ASSERT_EQ(live.liveWindowID(), a);
  EXPECT_EQ(preparation.storedColor(a), 0xFF0000C0u);
  // One that is overtaken while starting stores nothing.
  capture.holdStreamStarts(true);
  start(live.nextRequest(), b);
  loop.runUntilIdle();
  stop(live.nextRequest());
  loop.runUntilIdle();
  capture.releaseStreamStarts();
  loop.runUntilIdle();
  EXPECT_FALSE(cache.entryCopy(b));
}

TEST_F(LiveHeroTest, AStopDecidedAfterAStartWinsEvenWhenItRunsFirst) {
  const uint64_t startRequest = live.nextRequest();
  const uint64_t stopRequest = live.nextRequest();
  stop(stopRequest);
  loop.runUntilIdle();
  start(startRequest, a);
  loop.runUntilIdle();
  EXPECT_FALSE(live.liveWindowID());
  EXPECT_EQ(capture.runningStreams(), 0);
  EXPECT_EQ(capture.streamsStarted(), 0);
  // A start decided later still starts.
  start(live.nextRequest(), a);
  loop.runUntilIdle();
  EXPECT_EQ(live.liveWindowID(), a);
}

TEST_F(LiveHeroTest, OverlappingStartsKeepOnlyTheNewestStream) {
  capture.holdStreamStarts(true);
  start(live.nextRequest(), a);
  loop.runUntilIdle();
  start(live.nextRequest(), b);
  loop.runUntilIdle();
  capture.releaseStreamStarts();
  loop.runUntilIdle();
  EXPECT_EQ(live.liveWindowID(), b);
  EXPECT_EQ(capture.runningStreamWindows(), std::vector<uint32_t>{b});
  // A's stream started after B's start and stopped itself: its frames reach nothing.
  EXPECT_FALSE(capture.emitFrame(a));

  // Starting the live window again changes nothing, even with another tab.
  start(live.nextRequest(), b, 9);
  loop.runUntilIdle();
  EXPECT_EQ(capture.streamsStarted(), 2);
  EXPECT_EQ(capture.runningStreamWindows(), std::vector<uint32_t>{b});
}

TEST_F(LiveHeroTest, AStopWhileTheStartAwaitsItsCaptureLeavesNoStream) {
  capture.holdStreamStarts(true);
  start(live.nextRequest(), a);
  loop.runUntilIdle();
  stop(live.nextRequest());
  loop.runUntilIdle();
  capture.releaseStreamStarts();
  loop.runUntilIdle();
  EXPECT_FALSE(live.liveWindowID());
  EXPECT_FALSE(cache.liveWindowID());
  EXPECT_EQ(capture.runningStreams(), 0);
}

TEST_F(LiveHeroTest, AWindowThatClosesWhileStreamingEmptiesTheSlot) {
  start(live.nextRequest(), a);
  loop.runUntilIdle();
  frame(a);
  sim.closeWindow(a);
  capture.endStream(a);
  loop.runUntilIdle();
  EXPECT_FALSE(live.liveWindowID());
  EXPECT_FALSE(cache.liveWindowID());
  EXPECT_EQ(preparation.calls().size(), 1u);  // its last frame was settled

  // A window that is not on screen gets no stream, and the one before is stopped.
  start(live.nextRequest(), b);
  loop.runUntilIdle();
  ASSERT_EQ(live.liveWindowID(), b);
  sim.minimizeWindow(b);
  const uint32_t c = sim.openWindow(100, {.title = "C"}).number;
  sim.minimizeWindow(c);
  start(live.nextRequest(), c);
  loop.runUntilIdle();
  EXPECT_FALSE(live.liveWindowID());
  EXPECT_EQ(capture.runningStreams(), 0);
}

TEST_F(LiveHeroTest, AStartThatFailsOrIsNotPermittedLeavesNoStream) {
  capture.failStreamSetup(true);
  start(live.nextRequest(), a);
  loop.runUntilIdle();
  EXPECT_FALSE(live.liveWindowID());
  capture.failStreamSetup(false);
  capture.failStreamStart(true);
  start(live.nextRequest(), a);
  loop.runUntilIdle();
  EXPECT_FALSE(live.liveWindowID());
  capture.failStreamStart(false);
  // Without permission a start does nothing, and leaves a running stream running.
  start(live.nextRequest(), b);
  loop.runUntilIdle();
  sim.setScreenRecordingGranted(false);
  start(live.nextRequest(), a);
  loop.runUntilIdle();
  EXPECT_EQ(live.liveWindowID(), b);
  stop(live.nextRequest());
  loop.runUntilIdle();
  EXPECT_EQ(capture.runningStreams(), 0);
}

}  // namespace
}  // namespace quorvel
