#include <gtest/gtest.h>

#include "base/ManualLoop.h"
#include "pictures/PictureReference.h"
#include "pictures/ThumbnailCache.h"
#include "support/VulkanTestDevice.h"

namespace quorvel {
namespace {

using Provenance = ThumbnailCache::Provenance;

// The preparation on the Vulkan device (lavapipe here and in CI) under the validation layer.
class PictureGpuTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(vk.device) << vk.error; }
  void TearDown() override {
    cache.reset();
    if (vk.device) vk.device->waitIdle();
    vk.expectNoMessages();
  }
  std::shared_ptr<GpuTexture> upload(const PixelBuffer& b) {
    auto t = vk.device->makeTexture(
        {static_cast<uint32_t>(b.width), static_cast<uint32_t>(b.height), 1, false, "Quorvel test source"});
    EXPECT_TRUE(t && t->replaceLevel(0, b.bytes.get(), b.bytesPerRow));
    return t;
  }
  std::shared_ptr<GpuTexture> prepared(const PixelBuffer& b, std::optional<float> sigma) {
    PicturePreparer preparer(vk.device);
    auto queue = vk.device->makeCommandQueue("Quorvel test");
    auto commands = queue->makeCommandBuffer();
    auto out = preparer.encode(*commands, upload(b), sigma, {});
    EXPECT_TRUE(out);
    if (!out) return nullptr;
    commands->commit();
    commands->waitUntilCompleted();
    return out->texture;
  }
  void makeCache() {
    cache = std::make_unique<ThumbnailCache>(GpuContext::make(vk.device), loop.main(), loop.clock(), nullptr);
  }

  VulkanTestDevice vk;
  ManualLoop loop;
  std::unique_ptr<ThumbnailCache> cache;
};

TEST_F(PictureGpuTest, ScalingIsTheMeanOfEachBlockAndTheBlurMatchesAFullGaussian) {
  const PixelBuffer source = test::testPattern(480, 320);
  const test::FloatPicture half = test::halved(test::fromBuffer(source));

  auto plain = prepared(source, std::nullopt);
  ASSERT_TRUE(plain);
  auto scaled = vk.device->readTexture(plain, 0);
  EXPECT_LE(test::compare(half, scaled).largest, 1.0);
  // The last level of the chain is the mean of the whole picture.
  auto last = vk.device->readTexture(plain, plain->mipLevelCount() - 1);
  EXPECT_EQ(last.width, 1u);

  auto blurred = prepared(source, 28.0f);
  ASSERT_TRUE(blurred);
  auto difference = test::compare(test::gaussian(half, 28, 5), vk.device->readTexture(blurred, 0), 5);
  EXPECT_LE(difference.largest, 6.0) << difference;
  EXPECT_LE(difference.mean, 1.5) << difference;

  // The top of the range, on a picture with the same proportion of sigma to size. Along the
  // border the blur repeats the border 16 pixels deep (its smaller copy's edge) rather than the
  // last row alone: stripes across the edge show there, and fade within about a sigma.
  const PixelBuffer large = test::testPattern(1440, 960);
  blurred = prepared(large, 112.0f);
  ASSERT_TRUE(blurred);
  const auto reference = test::gaussian(test::halved(test::fromBuffer(large)), 112, 24);
  const auto pixels = vk.device->readTexture(blurred, 0);
  difference = test::compare(reference, pixels, 24, 112);
  EXPECT_LE(difference.largest, 10.0) << difference;
  EXPECT_LE(difference.mean, 1.5) << difference;
  difference = test::compare(reference, pixels, 24);
  EXPECT_LE(difference.largest, 48.0) << difference;
  EXPECT_LE(difference.mean, 2.0) << difference;
}

TEST_F(PictureGpuTest, APrivateWindowIsStoredBlurredAndItsTabsAreNotCut) {
  makeCache();
  std::vector<uint32_t> cropped;
  cache->setFaviconSink([&](uint32_t tab, std::shared_ptr<GpuTexture>) { cropped.push_back(tab); });
  WindowCard host;
  host.id = host.orderingID = 7;
  host.frame = {0, 0, 480, 320};
  WindowCard::TabFacts facts;
  facts.hostWindowID = 7;
  facts.faviconCrop = Rect{0.1, 0.1, 0.3, 0.3};
  {
    std::lock_guard guard(cache->lock());
    cache->beginSession({host, WindowCard::tabCard(host, WindowCard::kTabIDFloor, "t", facts)});
  }
  const PixelBuffer source = test::testPattern(960, 640);
  auto entry = cache->makeEntry(source, Provenance::photograph(std::nullopt), {});
  ASSERT_TRUE(entry);
  ASSERT_TRUE(cache->prepare(*entry, 7, true, true, Provenance::photograph(std::nullopt)));
  vk.device->waitIdle();
  auto stored = cache->entryCopy(7);
  ASSERT_TRUE(stored);
  const auto pixels = vk.device->readTexture(stored->texture, 0);
  const float sigma = PicturePreparer::blurSigma(480, 320);
  EXPECT_FLOAT_EQ(sigma, 28);
  const auto half = test::halved(test::fromBuffer(source));
  EXPECT_LE(test::compare(test::gaussian(half, sigma, 5), pixels, 5).largest, 6.0);
  // Nothing of the sharp picture survives: the 2-pixel checkerboard is flat grey.
  EXPECT_GT(test::compare(half, pixels).largest, 100.0);
  const auto mid = pixels.at(240, 160);
  EXPECT_NEAR(mid.r, 128, 8);
  EXPECT_TRUE(cropped.empty());
}

TEST_F(PictureGpuTest, TabCropsCarryTheSourcePixels) {
  makeCache();
  std::vector<std::pair<uint32_t, std::shared_ptr<GpuTexture>>> crops;
  cache->setFaviconSink([&](uint32_t tab, std::shared_ptr<GpuTexture> t) { crops.emplace_back(tab, t); });
  WindowCard host;
  host.id = host.orderingID = 7;
  host.frame = {0, 0, 480, 320};
  WindowCard::TabFacts facts;
  facts.hostWindowID = 7;
  facts.faviconCrop = Rect{0.75, 0.5, 0.125, 0.25};
  {
    std::lock_guard guard(cache->lock());
    cache->beginSession({host, WindowCard::tabCard(host, WindowCard::kTabIDFloor + 3, "t", facts)});
  }
  const PixelBuffer source = test::testPattern(480, 320);
  auto entry = cache->makeEntry(source, {}, {});
  ASSERT_TRUE(entry);
  ASSERT_TRUE(cache->prepare(*entry, 7, true, false, {}));
  vk.device->waitIdle();
  ASSERT_EQ(crops.size(), 1u);
  EXPECT_EQ(crops[0].first, WindowCard::kTabIDFloor + 3);
  const auto pixels = vk.device->readTexture(crops[0].second, 0);
  ASSERT_EQ(pixels.width, 60u);
  ASSERT_EQ(pixels.height, 80u);
  for (uint32_t y : {0u, 41u, 79u})
    for (uint32_t x : {0u, 30u, 59u}) {
      const uint8_t* want = source.row(160 + y) + (360 + x) * 4;
      const auto got = pixels.at(x, y);
      EXPECT_EQ((std::array<int, 3>{got.b, got.g, got.r}), (std::array<int, 3>{want[0], want[1], want[2]}));
    }
}

// A picture retired and flushed while a frame that samples it is still on the GPU is released only
// when that frame is done: the validation layer reports any image destroyed while in use.
TEST_F(PictureGpuTest, APictureOutlivesTheFrameThatSamplesIt) {
  makeCache();
  auto entry = cache->makeEntry(test::testPattern(256, 128), {}, {});
  ASSERT_TRUE(entry);
  ASSERT_TRUE(cache->prepare(*entry, 4, false, false, {}));
  vk.device->waitIdle();
  auto target = vk.device->makeTexture({128, 64, 1, true, "Quorvel test frame"});
  auto queue = vk.device->makeCommandQueue("Quorvel test frames");
  for (int frame = 0; frame < 3; ++frame) {
    std::shared_ptr<GpuTexture> picture;
    {
      std::lock_guard guard(cache->lock());
      picture = cache->entry(4)->texture;
    }
    auto commands = queue->makeCommandBuffer();
    auto blit = commands->makeBlitEncoder();
    blit->blit(picture, 0, {0, 0, 128, 64}, target, 0, {0, 0, 128, 64});
    blit->endEncoding();
    commands->commit();
    std::weak_ptr<GpuTexture> watched = picture;
    picture.reset();
    // While the frame is in flight the picture leaves the table and every retire list.
    cache->prune({1});
    cache->flushRetired();
    ASSERT_TRUE(cache->prepare(*entry, 4, false, false, {}));
    commands->waitUntilCompleted();
    vk.device->waitIdle();
    EXPECT_TRUE(watched.expired());
  }
}

}  // namespace
}  // namespace quorvel
