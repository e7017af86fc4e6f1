#include <gtest/gtest.h>

#include <atomic>

#include "base/ManualLoop.h"
#include "gpu/recording/RecordingDevice.h"
#include "pictures/ThumbnailCache.h"

namespace quorvel {
namespace {

using Entry = ThumbnailCache::Entry;
using Provenance = ThumbnailCache::Provenance;
using Kind = ThumbnailCache::InstallKind;

class ThumbnailCacheTest : public ::testing::Test {
 protected:
  std::shared_ptr<RecordingDevice> device = RecordingDevice::make();
  ManualLoop loop;
  int wakes = 0;
  std::unique_ptr<ThumbnailCache> cache =
      std::make_unique<ThumbnailCache>(GpuContext::make(device), loop.main(), loop.clock(), [this] { wakes += 1; });

  Entry picture(uint32_t width, uint32_t height, Provenance provenance = Provenance::photograph(std::nullopt),
                bool mips = true) {
    GpuTextureDescriptor d;
    d.width = width;
    d.height = height;
    d.mipLevels = mips ? GpuTextureDescriptor::fullMipCount(width, height) : 1;
    d.label = "test picture";
    Entry e;
    e.texture = device->makeTexture(d);
    e.bytes = Entry::bytesOf(*e.texture);
    e.provenance = provenance;
    return e;
  }
  // A still installed through its own job, as the preparation path does.
  bool still(uint32_t id, Entry e) { return cache->install(std::move(e), id, cache->beginJob(id), Kind::still); }
  std::optional<CardPicture> look(uint32_t id) {
    std::lock_guard guard(cache->lock());
    return cache->entry(id);
  }
  void session(const std::vector<WindowCard>& cards = {}) {
    std::lock_guard guard(cache->lock());
    cache->beginSession(cards);
  }
  static WindowCard card(uint32_t id, WindowState state = WindowState::onCurrentSpace) {
    WindowCard c;
    c.id = id;
    c.orderingID = id;
    c.state = state;
    return c;
  }
};

TEST(ThumbnailProvenance, StoredFormRoundTrips) {
  for (const auto p : {Provenance::photograph(std::nullopt), Provenance::photograph(0), Provenance::photograph(0xdeadbeef),
                       Provenance::banked(7)}) {
    EXPECT_EQ(Provenance::decoded(p.encoded()), p);
  }
  EXPECT_EQ(Provenance::banked(7).encoded()[4], 0x80);
  EXPECT_EQ(Provenance::photograph(std::nullopt).encoded()[4], 0x01);
}

TEST_F(ThumbnailCacheTest, BytesRuleAndLookupsMarkTheSessionOnce) {
  EXPECT_EQ(picture(600, 400).bytes, 600 * 400 * 16 / 3);
  EXPECT_EQ(picture(600, 400, Provenance::photograph(std::nullopt), false).bytes, 600 * 400 * 4);
  EXPECT_FALSE(look(1));
  ASSERT_TRUE(still(1, picture(64, 32)));
  EXPECT_EQ(wakes, 1);
  session();
  session();
  auto found = look(1);
  ASSERT_TRUE(found);
  EXPECT_EQ(found->texture->width(), 64u);
  EXPECT_EQ(cache->entryCopy(1)->lastPresentedSession, 2);
  // A replacing picture keeps the old one's session.
  ASSERT_TRUE(still(1, picture(32, 16)));
  EXPECT_EQ(cache->entryCopy(1)->lastPresentedSession, 2);
}

TEST_F(ThumbnailCacheTest, OnlyTheNewestJobInstallsAndLateResultsAreRetired) {
  const uint64_t older = cache->beginJob(3);
  const uint64_t newer = cache->beginJob(3);
  EXPECT_TRUE(cache->install(picture(16, 16), 3, newer, Kind::still));
  EXPECT_FALSE(cache->install(picture(32, 32), 3, older, Kind::still));
  EXPECT_EQ(cache->entryCopy(3)->texture->width(), 16u);
  EXPECT_EQ(cache->counts().retiredThisCycle, 1u);
  // A job without any pending number (pruned, or replaced by a live frame) is stale too.
  EXPECT_FALSE(cache->install(picture(8, 8), 4, 999, Kind::still));
  EXPECT_TRUE(cache->install(picture(8, 8), 4, std::nullopt, Kind::still));
}

TEST_F(ThumbnailCacheTest, ALiveFrameMakesTheStillOnTheGpuStale) {
  const uint64_t job = cache->beginJob(5);
  cache->setLiveWindow(5, std::nullopt);
  cache->storeLiveFrame(100, 100, 5, std::nullopt, std::nullopt, [&](const CaptureExtent& extent, const Provenance& p) {
    Entry e = picture(100, 100, p, false);
    e.contentExtent = extent;
    e.pixelBuffer = std::make_shared<int>(1);
    return std::optional<Entry>(e);
  });
  EXPECT_FALSE(cache->install(picture(50, 50), 5, job, Kind::still));
  EXPECT_EQ(cache->entryCopy(5)->texture->width(), 100u);
}

TEST_F(ThumbnailCacheTest, BankingKeepsTheOldPictureUnderItsTab) {
  WindowCard grouped = card(7);
  grouped.orderingID = 70;
  session({grouped});
  ASSERT_TRUE(still(7, picture(64, 64, Provenance::photograph(42))));
  ASSERT_TRUE(still(42, picture(8, 8)));
  ASSERT_TRUE(still(7, picture(32, 32, Provenance::photograph(43))));
  auto banked = cache->entryCopy(42);
  ASSERT_TRUE(banked);
  EXPECT_EQ(banked->texture->width(), 64u);
  EXPECT_EQ(banked->provenance, Provenance::banked(70));
  EXPECT_EQ(cache->counts().retiredThisCycle, 2u) << "the tab's own picture and the old window picture";
  {
    std::lock_guard guard(cache->lock());
    auto bankedMap = cache->bankedProvenances();
    EXPECT_EQ(bankedMap.size(), 1u);
    EXPECT_EQ(bankedMap.at(42), Provenance::banked(70));
  }
  EXPECT_EQ(cache->countCached({7, 42, 99}), 2u);

  // A demotion banks nothing; a wrapped picture is never banked.
  ASSERT_TRUE(still(8, picture(64, 64, Provenance::photograph(50))));
  ASSERT_TRUE(cache->install(picture(16, 16, Provenance::photograph(50)), 8, cache->beginJob(8), Kind::demotion));
  EXPECT_FALSE(cache->entryCopy(50));
  Entry wrapped = picture(64, 64, Provenance::photograph(51));
  wrapped.pixelBuffer = std::make_shared<int>(0);
  ASSERT_TRUE(still(9, wrapped));
  ASSERT_TRUE(still(9, picture(16, 16)));
  EXPECT_FALSE(cache->entryCopy(51));
  // A window's picture taken with its own id showing is not banked either.
  ASSERT_TRUE(still(10, picture(16, 16, Provenance::photograph(10))));
  ASSERT_TRUE(still(10, picture(16, 16)));
  EXPECT_EQ(cache->countCached({10}), 1u);
}

TEST_F(ThumbnailCacheTest, RetiredPicturesLiveUntilTheSecondSession) {
  ASSERT_TRUE(still(1, picture(16, 16)));
  std::weak_ptr<GpuTexture> old = cache->entryCopy(1)->texture;
  ASSERT_TRUE(still(1, picture(16, 16)));
  EXPECT_FALSE(old.expired());
  session();
  EXPECT_FALSE(old.expired()) << "a frame of the previous session may still sample it";
  session();
  EXPECT_TRUE(old.expired());

  ASSERT_TRUE(still(1, picture(16, 16)));
  old = cache->entryCopy(1)->texture;
  cache->prune({});
  EXPECT_FALSE(old.expired());
  cache->flushRetired();
  EXPECT_TRUE(old.expired());
}

TEST_F(ThumbnailCacheTest, PruneKeepsOnlyTheGivenIds) {
  ASSERT_TRUE(still(1, picture(16, 16)));
  ASSERT_TRUE(still(2, picture(16, 16)));
  cache->setCaptureStamp(1, {11, 1});
  cache->setCaptureStamp(2, {22, 2});
  const uint64_t pending3 = cache->beginJob(3);
  const uint64_t pending1 = cache->beginJob(1);
  cache->prune({1});
  EXPECT_EQ(cache->countCached({1, 2}), 1u);
  EXPECT_TRUE(cache->captureStamp(1));
  EXPECT_FALSE(cache->captureStamp(2));
  EXPECT_FALSE(cache->install(picture(8, 8), 3, pending3, Kind::still));
  EXPECT_TRUE(cache->install(picture(8, 8), 1, pending1, Kind::still));

  cache->beginJob(1);
  cache->prune({});
  auto counts = cache->counts();
  EXPECT_EQ(counts.entries, 0u);
  EXPECT_EQ(counts.pending, 0u);
  EXPECT_FALSE(cache->captureStamp(1));
  {
    std::lock_guard guard(cache->lock());
    cache->forgetStamps({1});
  }
}

TEST_F(ThumbnailCacheTest, SessionSetsAndCropTargets) {
  WindowCard host = card(1);
  host.frame = {0, 0, 800, 600};
  std::vector<WindowCard> cards{host};
  for (uint32_t i = 0; i < 45; ++i) {
    WindowCard::TabFacts facts;
    facts.hostWindowID = 1;
    facts.faviconCrop = Rect{0.01 * i, 0, 0.01, 0.02};
    WindowCard tab = WindowCard::tabCard(host, WindowCard::kTabIDFloor + i, "t", facts);
    if (i == 44) tab.frame = {0, 0, 900, 600};
    cards.push_back(tab);
  }
  WindowCard privateTab = cards.back();
  privateTab.id = WindowCard::kTabIDFloor + 100;
  privateTab.tab->hostWindowID = 2;
  privateTab.isPrivate = true;
  cards.push_back(privateTab);
  session(cards);
  auto batch = cache->cropBatch(1);
  ASSERT_TRUE(batch);
  EXPECT_EQ(batch->targets.size(), 40u);
  EXPECT_EQ(batch->targets.front().tab, WindowCard::kTabIDFloor);
  EXPECT_EQ(batch->hostFrame, (Rect{0, 0, 800, 600})) << "a skipped card does not move the frame";
  EXPECT_FALSE(cache->cropBatch(2)) << "no crops of private windows";
}

TEST_F(ThumbnailCacheTest, LiveFramesKeepTheThreeNewestReplacedPictures) {
  cache->setLiveWindow(9, 77);
  std::vector<std::weak_ptr<GpuTexture>> textures;
  for (int i = 0; i < 5; ++i) {
    cache->storeLiveFrame(100, 50, 9, Rect{0, 0, 50, 25}, 2.0, [&](const CaptureExtent& extent, const Provenance& p) {
      Entry e = picture(100, 50, p, false);
      e.contentExtent = extent;
      e.pixelBuffer = std::make_shared<int>(i);
      textures.push_back(e.texture);
      return std::optional<Entry>(e);
    });
  }
  EXPECT_EQ(cache->counts().liveRing, 3u);
  EXPECT_TRUE(textures[0].expired());
  EXPECT_FALSE(textures[1].expired());
  EXPECT_EQ(cache->entryCopy(9)->provenance, Provenance::photograph(77));
  // Frames of another window, or after the slot was emptied, are dropped.
  int wrapped = 0;
  auto wrap = [&](const CaptureExtent&, const Provenance& p) {
    wrapped += 1;
    return std::optional<Entry>(picture(4, 4, p));
  };
  cache->storeLiveFrame(4, 4, 10, std::nullopt, std::nullopt, wrap);
  EXPECT_EQ(wrapped, 0);
  auto taken = cache->takeLiveStream();
  ASSERT_TRUE(taken);
  EXPECT_EQ(taken->first, 9u);
  cache->storeLiveFrame(4, 4, 9, std::nullopt, std::nullopt, wrap);
  EXPECT_EQ(wrapped, 0);
  cache->clearLiveRing();
  EXPECT_EQ(cache->counts().liveRing, 0u);
}

TEST(ThumbnailLiveExtent, ContentFractionsAndTheRegionCrop) {
  auto extent = [](Rect content, std::optional<Rect> frame = std::nullopt, std::optional<Rect> region = std::nullopt) {
    return ThumbnailCache::liveFrameExtent(1000, 1000, content, 1.0, frame, region);
  };
  EXPECT_EQ(extent({0, 0, 50, 1000}), CaptureExtent{}) << "0.05 of the width keeps the whole picture";
  EXPECT_EQ(extent({0, 0, 998, 997}), CaptureExtent{});
  EXPECT_EQ(extent({0, 0, 900, 998}), (CaptureExtent{0, 0, 0.9, 0.998}));
  // With a region crop its rectangle wins even when both fractions are above 0.995.
  const auto cropped = ThumbnailCache::liveFrameExtent(1000, 800, Rect{0, 0, 1000, 800}, 1.0, Rect{0, 0, 1000, 800},
                                                       Rect{0, 100, 1000, 700});
  EXPECT_EQ(cropped, (CaptureExtent{0, 0.125, 1, 0.875}));
  EXPECT_EQ(ThumbnailCache::liveFrameExtent(1000, 800, Rect{0, 0, 1000, 800}, 0.0, std::nullopt, std::nullopt),
            CaptureExtent{});
  EXPECT_EQ(ThumbnailCache::liveFrameExtent(0, 800, Rect{0, 0, 1000, 800}, 1.0, std::nullopt, std::nullopt),
            CaptureExtent{});
}

TEST_F(ThumbnailCacheTest, BudgetIsEnforcedInBytesOnEveryInstall) {
  // 2048 × 2048 with mips is 22,369,621 bytes: twelve fit in 250 MiB, the thirteenth does not.
  for (uint32_t id = 1; id <= 11; ++id) ASSERT_TRUE(still(id, picture(2048, 2048)));
  EXPECT_EQ(cache->counts().entries, 11u);
  session({card(5)});  // id 5 is on the current desktop: exempt
  for (uint32_t id = 1; id <= 11; ++id) look(id == 1 ? 2 : id);  // id 1 is the least recently presented
  ASSERT_TRUE(still(12, picture(2048, 2048)));
  EXPECT_EQ(cache->counts().entries, 11u);
  EXPECT_FALSE(cache->entryCopy(1));
  EXPECT_LE(cache->counts().totalBytes, ThumbnailCache::kPresentedBudget);
}

TEST_F(ThumbnailCacheTest, IdleTrimAfterNineHundredSecondsOnTheVirtualClock) {
  // Nothing open: ending changes nothing and schedules nothing.
  cache->endPresentation();
  EXPECT_EQ(loop.pendingTimers(), 0u);

  for (uint32_t id = 1; id <= 8; ++id) ASSERT_TRUE(still(id, picture(2048, 2048)));  // ~179 MB
  cache->beginPresentation();
  cache->beginPresentation();
  cache->endPresentation();
  EXPECT_EQ(loop.pendingTimers(), 0u) << "only the last close schedules the trim";
  cache->endPresentation();
  EXPECT_EQ(loop.pendingTimers(), 1u);
  loop.advance(std::chrono::seconds(600));
  EXPECT_EQ(loop.pendingTimers(), 1u) << "one wait at a time";
  cache->beginPresentation();  // within the 900 s: cancelled
  loop.advance(std::chrono::seconds(600));
  EXPECT_FALSE(cache->counts().trimmedWhileHidden);
  cache->endPresentation();

  // A live stream still running at the time: nothing is trimmed, the budget stays at 250 MiB.
  cache->setLiveWindow(1, std::nullopt);
  loop.advance(std::chrono::seconds(900));
  EXPECT_FALSE(cache->counts().trimmedWhileHidden);
  EXPECT_EQ(cache->counts().entries, 8u);
  cache->takeLiveStream();

  cache->beginPresentation();
  cache->endPresentation();
  loop.advance(std::chrono::seconds(899));
  EXPECT_EQ(cache->counts().entries, 8u);
  loop.advance(std::chrono::seconds(1));
  auto counts = cache->counts();
  EXPECT_TRUE(counts.trimmedWhileHidden);
  EXPECT_LE(counts.totalBytes, ThumbnailCache::kIdleBudget);
  EXPECT_EQ(counts.entries, 4u);
  // Installs now keep to 100 MiB until the next presentation.
  ASSERT_TRUE(still(20, picture(2048, 2048)));
  EXPECT_LE(cache->counts().totalBytes, ThumbnailCache::kIdleBudget);
  cache->beginPresentation();
  EXPECT_FALSE(cache->counts().trimmedWhileHidden);
}

TEST_F(ThumbnailCacheTest, IdleTrimDemotesIrreplaceablePicturesByMipLevels) {
  // Minimized windows cannot be captured again: they are demoted, not evicted.
  std::vector<WindowCard> cards;
  for (uint32_t id = 1; id <= 8; ++id) {
    ASSERT_TRUE(still(id, picture(2048, 2048)));
    cards.push_back(card(id, WindowState::minimized));
  }
  session(cards);
  cache->beginPresentation();
  cache->endPresentation();
  loop.advance(ThumbnailCache::kIdleDelay);
  device->waitIdle();
  EXPECT_EQ(cache->counts().entries, 8u);
  EXPECT_LE(cache->counts().totalBytes, ThumbnailCache::kIdleBudget);
  int demoted = 0;
  for (uint32_t id = 1; id <= 8; ++id) {
    auto e = cache->entryCopy(id);
    if (e->generation == 1) {
      EXPECT_EQ(e->texture->width(), 1024u);
      demoted += 1;
    }
  }
  EXPECT_GT(demoted, 0);
  bool copiedLevelOne = false;
  for (const auto& buffer : device->commandBuffers())
    if (buffer.label == "Quorvel thumbnail demotion")
      for (const auto& encoder : buffer.encoders)
        for (const auto& blit : encoder.blits)
          if (blit.kind == RecordedBlit::Kind::copyLevel && blit.sourceLevel == 1) copiedLevelOne = true;
  EXPECT_TRUE(copiedLevelOne);
}

TEST_F(ThumbnailCacheTest, AfterTheIdleTrimPicturesThatCannotBeCapturedAgainOutlastTheBudget) {
  // The current desktop's pictures alone are above 100 MiB; two minimized windows' cannot be
  // captured again. Neither the install of their demoted copies nor a later still evicts them.
  std::vector<WindowCard> cards;
  for (uint32_t id = 1; id <= 5; ++id) {
    ASSERT_TRUE(still(id, picture(2048, 2048)));
    cards.push_back(card(id));
  }
  for (uint32_t id = 6; id <= 7; ++id) {
    ASSERT_TRUE(still(id, picture(2048, 2048)));
    cards.push_back(card(id, WindowState::minimized));
  }
  session(cards);
  cache->beginPresentation();
  cache->endPresentation();
  loop.advance(ThumbnailCache::kIdleDelay);
  device->waitIdle();
  loop.runUntilIdle();
  ASSERT_TRUE(cache->counts().trimmedWhileHidden);
  ASSERT_TRUE(still(8, picture(2048, 2048)));  // a fresh still on the current desktop
  for (uint32_t id = 6; id <= 7; ++id) {
    SCOPED_TRACE(id);
    auto e = cache->entryCopy(id);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->generation, 2);
  }
}

TEST_F(ThumbnailCacheTest, DemotionCopiesTheMipLevelOfTheTargetGeneration) {
  ASSERT_TRUE(still(1, picture(600, 400)));
  cache->demote({{1, 2}});
  device->waitIdle();
  auto e = cache->entryCopy(1);
  ASSERT_TRUE(e);
  EXPECT_EQ(e->generation, 2);
  EXPECT_EQ(e->texture->width(), 150u);
  EXPECT_EQ(e->texture->height(), 100u);
  // From generation 2 nothing more; a pending job blocks a demotion.
  ASSERT_TRUE(still(2, picture(600, 400)));
  cache->demote({{2, 1}});
  device->waitIdle();
  cache->demote({{2, 2}});
  device->waitIdle();
  e = cache->entryCopy(2);
  EXPECT_EQ(e->generation, 2);
  EXPECT_EQ(e->texture->width(), 150u);
  cache->beginJob(2);
  const size_t before = device->commandBufferCount();
  cache->demote({{2, 3}});
  EXPECT_EQ(device->commandBufferCount(), before);
}

TEST_F(ThumbnailCacheTest, APictureIsOpaqueOnlyWhenEveryPixelIsAndStaysSoThroughEveryRoute) {
  // Rows with padding beyond the width: the padding's alpha does not count.
  auto buffer = [](uint8_t lastPixelAlpha, uint8_t paddingAlpha) {
    std::vector<uint8_t> bytes(32 * 9 * 4, 255);
    for (size_t y = 0; y < 9; ++y)
      for (size_t x = 24; x < 32; ++x) bytes[y * 128 + x * 4 + 3] = paddingAlpha;
    bytes[8 * 128 + 23 * 4 + 3] = lastPixelAlpha;
    PixelBuffer b = PixelBuffer::adopting(24, 9, std::move(bytes));
    b.bytesPerRow = 32 * 4;
    return b;
  };
  const Provenance photo = Provenance::photograph(std::nullopt);
  EXPECT_TRUE(cache->makeEntry(buffer(255, 0), photo, {})->opaque) << "padding is not a pixel";
  EXPECT_FALSE(cache->makeEntry(buffer(254, 255), photo, {})->opaque) << "one translucent pixel";
  EXPECT_FALSE(cache->makeEntry(buffer(0, 255), photo, {})->opaque);

  // Through the preparation (half size, mips) and a demotion, and out to the renderer.
  Entry source = *cache->makeEntry(buffer(255, 255), photo, {});
  ASSERT_TRUE(cache->prepare(source, 1, false, false, photo));
  device->waitIdle();
  ASSERT_TRUE(look(1));
  EXPECT_TRUE(look(1)->opaque);
  ASSERT_TRUE(cache->prepare(*cache->makeEntry(buffer(128, 255), photo, {}), 2, false, true, photo));
  device->waitIdle();
  ASSERT_TRUE(look(2));
  EXPECT_FALSE(look(2)->opaque) << "a blurred translucent picture";
  ASSERT_TRUE(cache->storeCopied(buffer(255, 255), 3, photo));
  device->waitIdle();
  EXPECT_TRUE(look(3)->opaque);
  Entry big = picture(600, 400);
  big.opaque = true;
  ASSERT_TRUE(still(4, big));
  cache->demote({{4, 1}});
  device->waitIdle();
  EXPECT_EQ(cache->entryCopy(4)->generation, 1);
  EXPECT_TRUE(look(4)->opaque);
  EXPECT_FALSE((still(5, picture(8, 8)), look(5)->opaque)) << "unknown reads as not opaque";
}

TEST_F(ThumbnailCacheTest, ADemotionLateBehindANewerStillIsNotInstalled) {
  ASSERT_TRUE(still(1, picture(600, 400)));
  device->holdCompletions(true);
  cache->demote({{1, 1}});
  ASSERT_TRUE(still(1, picture(64, 64)));
  device->releaseCompletions();
  device->holdCompletions(false);
  EXPECT_EQ(cache->entryCopy(1)->texture->width(), 64u);
  EXPECT_EQ(cache->entryCopy(1)->generation, 0);
}

}  // namespace
}  // namespace quorvel

namespace quorvel {
namespace {

TEST(ThumbnailIdleClock, ASuspendedSpellCountsTowardTheIdleTrim) {
  auto device = RecordingDevice::make();
  ManualLoop loop;
  ThumbnailCache cache(GpuContext::make(device), loop.main(), loop.clock(), {});
  cache.beginPresentation();
  cache.endPresentation();
  // The machine sleeps for 890 s: the clock moves on while no timer fires.
  loop.clock().setNow(loop.clock().now() + std::chrono::seconds(890));
  loop.advance(std::chrono::seconds(10));
  EXPECT_TRUE(cache.counts().trimmedWhileHidden);
}

}  // namespace
}  // namespace quorvel

namespace quorvel {
namespace {

TEST(ThumbnailIdleClock, TheTrimIsOneWaitWithNothingWakingBefore) {
  auto device = RecordingDevice::make();
  ManualLoop loop;
  ThumbnailCache cache(GpuContext::make(device), loop.main(), loop.clock(), {});
  cache.beginPresentation();
  cache.endPresentation();
  const Instant start = loop.clock().now();
  ASSERT_TRUE(loop.advanceToNextTimer());
  EXPECT_EQ(loop.clock().now() - start, ThumbnailCache::kIdleDelay);
  EXPECT_TRUE(cache.counts().trimmedWhileHidden);
}

}  // namespace
}  // namespace quorvel
