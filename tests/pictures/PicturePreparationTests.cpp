#include <gtest/gtest.h>

#include "base/ManualLoop.h"
#include "gpu/recording/RecordingDevice.h"
#include "pictures/GpuPicturePreparation.h"
#include "pictures/ThumbnailCache.h"

namespace quorvel {
namespace {

using Entry = ThumbnailCache::Entry;
using Provenance = ThumbnailCache::Provenance;

class PicturePreparationTest : public ::testing::Test {
 protected:
  std::shared_ptr<RecordingDevice> device = RecordingDevice::make();
  ManualLoop loop;
  std::unique_ptr<ThumbnailCache> cache =
      std::make_unique<ThumbnailCache>(GpuContext::make(device), loop.main(), loop.clock(), nullptr);
  std::vector<std::pair<uint32_t, std::shared_ptr<GpuTexture>>> delivered;

  Entry source(uint32_t width, uint32_t height, Provenance provenance = Provenance::photograph(std::nullopt)) {
    auto entry = cache->makeEntry(PixelBuffer::filled(static_cast<int>(width), static_cast<int>(height), 0xff030201),
                                  provenance, {0, 0, 1, 0.5});
    EXPECT_TRUE(entry);
    return *entry;
  }
  void sink() {
    cache->setFaviconSink([this](uint32_t tab, std::shared_ptr<GpuTexture> t) { delivered.emplace_back(tab, t); });
  }
  // A browser window 7 of 800 × 600 points with tabs whose crops are the given unit rectangles.
  void tabSession(const std::vector<Rect>& crops, Rect frame = {0, 0, 800, 600}) {
    WindowCard host;
    host.id = host.orderingID = 7;
    host.frame = frame;
    std::vector<WindowCard> cards{host};
    for (size_t i = 0; i < crops.size(); ++i) {
      WindowCard::TabFacts facts;
      facts.hostWindowID = 7;
      facts.faviconCrop = crops[i];
      cards.push_back(WindowCard::tabCard(host, WindowCard::kTabIDFloor + static_cast<uint32_t>(i), "t", facts));
    }
    std::lock_guard guard(cache->lock());
    cache->beginSession(cards);
  }
  std::vector<std::shared_ptr<GpuTexture>> cropTexturesOf(const RecordedCommandBuffer& record) {
    std::vector<std::shared_ptr<GpuTexture>> out;
    for (const auto& e : record.encoders)
      for (const auto& b : e.blits)
        if (b.kind == RecordedBlit::Kind::blit && b.destination->label() == "Quorvel tab crop")
          out.push_back(b.destination);
    return out;
  }
};

TEST_F(PicturePreparationTest, HalfSizeSigmaAndTheBlurPlan) {
  EXPECT_EQ(PicturePreparer::halfSide(1), 1u);
  EXPECT_EQ(PicturePreparer::halfSide(3), 1u);
  EXPECT_EQ(PicturePreparer::halfSide(5), 2u);
  EXPECT_FLOAT_EQ(PicturePreparer::blurSigma(600, 400), 28);   // 400 / 34 ≈ 11.8, raised
  EXPECT_FLOAT_EQ(PicturePreparer::blurSigma(4000, 4000), 112);  // ≈ 117.6, lowered
  EXPECT_FLOAT_EQ(PicturePreparer::blurSigma(1300, 3400), 1300.0f / 34);
  // The blur runs on the level where about 4 to 8 pixels of sigma remain.
  for (float sigma : {28.0f, 112.0f}) {
    const auto plan = PicturePreparer::blurPlan(1300, 600, 11, sigma);
    EXPECT_EQ(plan.level, sigma == 28 ? 2u : 4u);
    EXPECT_NEAR(plan.levelSigma, 6.98, 0.05);
    EXPECT_EQ(plan.radius, 21);
  }
  // A picture too small for the levels blurs on what it has.
  const auto tiny = PicturePreparer::blurPlan(3, 2, 2, 28);
  EXPECT_LE(tiny.level, 1u);
  EXPECT_GT(tiny.levelSigma, 4);

  for (auto [w, h, ew, eh] : {std::array<uint32_t, 4>{1, 1, 1, 1}, {3, 5, 1, 2}, {1200, 800, 600, 400}}) {
    ASSERT_TRUE(cache->prepare(source(w, h), 3, false, false, Provenance::photograph(42)));
    auto stored = cache->entryCopy(3);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->texture->width(), ew);
    EXPECT_EQ(stored->texture->height(), eh);
    EXPECT_EQ(stored->texture->mipLevelCount(), GpuTextureDescriptor::fullMipCount(ew, eh));
    EXPECT_EQ(stored->bytes, ew == 600 ? 600 * 400 * 16 / 3 : Entry::bytesOf(*stored->texture));
    EXPECT_EQ(stored->provenance, Provenance::photograph(42));
    EXPECT_EQ(stored->contentExtent, (CaptureExtent{0, 0, 1, 0.5})) << "the source's extent is kept";
    EXPECT_FALSE(stored->pixelBuffer);
  }
}

TEST_F(PicturePreparationTest, OneCommandBufferWithTheBlurPassesWhenAsked) {
  ASSERT_TRUE(cache->prepare(source(1200, 800), 3, false, false, {}));
  ASSERT_TRUE(cache->prepare(source(1200, 800), 4, false, true, {}));
  auto records = device->commandBuffers();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].label, "Quorvel thumbnail scale + mipmaps");
  EXPECT_EQ(records[1].label, "Quorvel thumbnail scale + blur + mipmaps");
  auto renders = [](const RecordedCommandBuffer& r) {
    return std::count_if(r.encoders.begin(), r.encoders.end(),
                         [](const RecordedEncoder& e) { return e.kind == RecordedEncoder::Kind::render; });
  };
  EXPECT_EQ(renders(records[0]), 0);
  EXPECT_EQ(renders(records[1]), 2);
  // The blurred picture is what the last pass made, enlarged: never the scaled source itself.
  const auto& last = records[1].encoders.back();
  ASSERT_EQ(last.kind, RecordedEncoder::Kind::blit);
  EXPECT_EQ(last.blits.front().source, records[1].encoders[2].target);
  EXPECT_EQ(last.blits.front().destination, cache->entryCopy(4)->texture);
}

TEST_F(PicturePreparationTest, APictureThatMustBeBlurredIsNeverStoredWithoutTheBlur) {
  RecordingDevice::Failures f;
  f.missingFunction = "pictureBlurFragment";
  device->setFailures(f);
  sink();
  tabSession({{0.1, 0.1, 0.2, 0.2}});
  EXPECT_FALSE(cache->prepare(source(800, 600), 7, true, true, {}));
  EXPECT_FALSE(cache->entryCopy(7));
  EXPECT_EQ(cache->counts().pending, 0u) << "an abandoned job leaves no trace";
  EXPECT_EQ(device->commandBufferCount(), 0u);
  // The same window unblurred still prepares: only the blur was missing.
  EXPECT_TRUE(cache->prepare(source(800, 600), 7, true, false, {}));
  EXPECT_TRUE(cache->entryCopy(7));

  // With the blur, no crop of the unblurred source is cut or delivered.
  device->setFailures({});
  delivered.clear();
  device->clearLog();
  ASSERT_TRUE(cache->prepare(source(800, 600), 7, true, true, {}));
  EXPECT_TRUE(cropTexturesOf(device->commandBuffers().at(0)).empty());
  EXPECT_TRUE(delivered.empty());
}

TEST_F(PicturePreparationTest, WorkThatFailsOnTheGpuStoresNothingAndDeliversNoCrop) {
  sink();
  tabSession({{0.1, 0.1, 0.2, 0.2}});
  const Entry kept = source(400, 300);
  ASSERT_TRUE(cache->prepare(kept, 7, false, false, {}));
  const auto before = cache->entryCopy(7);
  ASSERT_TRUE(before);
  RecordingDevice::Failures f;
  f.committedWork = true;
  device->setFailures(f);
  ASSERT_TRUE(cache->prepare(source(800, 600), 7, true, false, {}));
  EXPECT_EQ(cache->entryCopy(7)->texture, before->texture) << "the picture before stays";
  EXPECT_TRUE(delivered.empty());
  EXPECT_EQ(cache->counts().pending, 0u) << "the window may be taken again";
}

TEST_F(PicturePreparationTest, CropRulesSizesAspectAndTheSink) {
  tabSession({{0.1, 0.1, 0.2, 0.2}, {0.5, 0.5, 0.00875, 0.2}, {0.9, 0.9, 0.2, 0.05}});
  EXPECT_TRUE(cache->cropRequests(800, 600, 7).empty()) << "no sink, no crops";
  sink();
  auto requests = cache->cropRequests(800, 600, 7);
  ASSERT_EQ(requests.size(), 1u) << "a region 7 pixels wide and one outside the picture are skipped";
  EXPECT_EQ(requests[0].tab, WindowCard::kTabIDFloor);
  EXPECT_EQ(requests[0].region, (PixelRegion{80, 60, 160, 120}));
  EXPECT_EQ(cache->cropRequests(700, 600, 7).size(), 0u) << "aspect off by more than 2 %";
  EXPECT_EQ(cache->cropRequests(1600, 1200, 7).size(), 2u) << "14 pixels wide on a larger picture";
  EXPECT_TRUE(cache->cropRequests(800, 600, 8).empty()) << "no batch for that window";

  // Cut in the same command buffer and delivered once the picture is installed.
  ASSERT_TRUE(cache->prepare(source(800, 600), 7, true, false, {}));
  ASSERT_EQ(delivered.size(), 1u);
  EXPECT_EQ(delivered[0].first, WindowCard::kTabIDFloor);
  EXPECT_EQ(delivered[0].second->width(), 160u);
  EXPECT_EQ(delivered[0].second->mipLevelCount(), GpuTextureDescriptor::fullMipCount(160, 120));
  const auto record = device->commandBuffers().back();
  ASSERT_EQ(cropTexturesOf(record).size(), 1u);
  for (const auto& e : record.encoders)
    for (const auto& b : e.blits)
      if (b.destination == delivered[0].second && b.kind == RecordedBlit::Kind::blit) {
        EXPECT_EQ(b.source->width(), 800u) << "crops come from the full-size source";
        EXPECT_EQ(b.sourceRegion.x, 80u);
        EXPECT_EQ(b.sourceRegion.width, 160u);
      }
  // A window still without the crop flag cuts nothing.
  delivered.clear();
  ASSERT_TRUE(cache->prepare(source(800, 600), 7, false, false, {}));
  EXPECT_TRUE(delivered.empty());
}

TEST_F(PicturePreparationTest, OnlyTheNewestStillIsInstalledAndOnlyItsCropsDelivered) {
  sink();
  tabSession({{0.1, 0.1, 0.2, 0.2}});
  device->holdCompletions(true);
  ASSERT_TRUE(cache->prepare(source(800, 600), 7, true, false, {}));
  ASSERT_TRUE(cache->prepare(source(400, 300), 7, true, false, {}));
  EXPECT_EQ(cache->counts().pending, 1u);
  const auto records = device->commandBuffers();
  EXPECT_EQ(device->releaseCompletions(), 2u);
  EXPECT_EQ(cache->entryCopy(7)->texture->width(), 200u);
  ASSERT_EQ(delivered.size(), 1u);
  EXPECT_EQ(delivered[0].second, cropTexturesOf(records[1]).at(0));
  EXPECT_EQ(cache->counts().retiredThisCycle, 1u) << "the older result is retired unseen";

  // A live frame stored while a still is on the GPU wins over it.
  cache->setLiveWindow(7, std::nullopt);
  ASSERT_TRUE(cache->prepare(source(800, 600), 7, false, false, {}));
  cache->storeLiveFrame(PixelBuffer::filled(640, 480, 0xff000000), 7, std::nullopt, std::nullopt);
  device->releaseCompletions();
  auto stored = cache->entryCopy(7);
  EXPECT_EQ(stored->texture->width(), 640u);
  EXPECT_TRUE(stored->pixelBuffer) << "a live picture keeps its frame and is never banked";
}

TEST_F(PicturePreparationTest, TheCopyRouteBuildsMipsBeforeInstallingOrStoresLevelZeroAtOnce) {
  const auto buffer = PixelBuffer::filled(300, 200, 0xff090909);
  device->holdCompletions(true);
  ASSERT_TRUE(cache->storeCopied(buffer, 5, Provenance::photograph(6)));
  EXPECT_FALSE(cache->entryCopy(5));
  EXPECT_EQ(device->commandBuffers().at(0).label, "Quorvel thumbnail mipmaps (copied)");
  device->releaseCompletions();
  auto stored = cache->entryCopy(5);
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->texture->width(), 300u);
  EXPECT_EQ(stored->texture->mipLevelCount(), GpuTextureDescriptor::fullMipCount(300, 200));
  EXPECT_EQ(stored->contentExtent, CaptureExtent{});
  EXPECT_EQ(stored->provenance, Provenance::photograph(6));
  device->holdCompletions(false);

  RecordingDevice::Failures f;
  f.commandBuffers = true;
  device->setFailures(f);
  ASSERT_TRUE(cache->storeCopied(buffer, 6, {}));
  EXPECT_TRUE(cache->entryCopy(6));
  EXPECT_FALSE(cache->storeCopied(PixelBuffer{}, 6, {}));
  f = {};
  f.textures = true;
  device->setFailures(f);
  EXPECT_FALSE(cache->storeCopied(buffer, 8, {}));
  EXPECT_FALSE(cache->makeEntry(buffer, {}, {}));
  EXPECT_FALSE(cache->entryCopy(8));
}

TEST_F(PicturePreparationTest, TheCaptureSideReachesThePreparationThroughItsSeam) {
  GpuPicturePreparation preparation(*cache);
  PicturePreparation& seam = preparation;
  auto entry = seam.makeEntry(PixelBuffer::filled(400, 300, 0xff102030), Provenance::photograph(9), {});
  ASSERT_TRUE(entry);
  EXPECT_TRUE(entry->pixelBuffer);
  ASSERT_TRUE(seam.prepare(*entry, 2, false, true, Provenance::photograph(9)));
  EXPECT_EQ(cache->entryCopy(2)->texture->width(), 200u);
  EXPECT_EQ(device->commandBuffers().back().label, "Quorvel thumbnail scale + blur + mipmaps");
  ASSERT_TRUE(seam.storeCopied(PixelBuffer::filled(40, 30, 0xff102030), 3, {}));
  EXPECT_EQ(cache->entryCopy(3)->texture->width(), 40u);
  EXPECT_FALSE(seam.makeEntry(PixelBuffer{}, {}, {}));
}

}  // namespace
}  // namespace quorvel
