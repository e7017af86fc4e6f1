#include <gtest/gtest.h>

#include "gpu/recording/RecordingDevice.h"
#include "pictures/CaptureExtent.h"
#include "pictures/CaptureStamp.h"
#include "pictures/GpuContext.h"
#include "pictures/TextureRasterizer.h"

namespace quorvel {
namespace {

TEST(TextureRasterizerTest, BuildsMipsInOneLabelledCommandBufferAndSkipsSingleLevelTextures) {
  auto device = RecordingDevice::make();
  TextureRasterizer rasterizer{GpuContext::make(device)};
  ASSERT_TRUE(rasterizer.context);
  auto flat = device->makeTexture({16, 16, 1, false, "flat"});
  rasterizer.generateMipmaps(flat, "Quorvel icon mipmaps");
  EXPECT_EQ(device->commandBufferCount(), 0u) << "a 1-level texture makes no command buffer";

  auto chained = device->makeTexture({16, 16, 5, false, "chained"});
  rasterizer.generateMipmaps(chained, "Quorvel icon mipmaps");
  auto log = device->commandBuffers();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].label, "Quorvel icon mipmaps");
  EXPECT_EQ(log[0].queueLabel, "Quorvel shared queue");
  ASSERT_EQ(log[0].encoders.size(), 1u);
  ASSERT_EQ(log[0].encoders[0].blits.size(), 1u);
  EXPECT_EQ(log[0].encoders[0].blits[0].kind, RecordedBlit::Kind::generateMipmaps);
  EXPECT_TRUE(log[0].encoders[0].ended);

  auto failures = device->failures();
  failures.commandBuffers = true;
  device->setFailures(failures);
  rasterizer.generateMipmaps(chained, "Quorvel icon mipmaps");
  EXPECT_EQ(device->commandBufferCount(), 1u) << "without a command buffer nothing happens";
}

TEST(GpuContextTest, NeedsADevice) {
  EXPECT_FALSE(GpuContext::make(nullptr));
  auto context = GpuContext::make(RecordingDevice::make());
  ASSERT_TRUE(context);
  EXPECT_TRUE(context->device && context->commandQueue);
}

WindowCard card(double x) {
  WindowCard c;
  c.id = 7;
  c.title = "Report";
  c.frame = {x, 20, 800, 600};
  return c;
}

TEST(CaptureStampTest, ChangesOnWholePointsTitleStateBlurAndTheShownTab) {
  const std::unordered_map<uint32_t, uint32_t> none;
  const std::unordered_map<uint32_t, int64_t> visits{{7, 42}};
  const CaptureStamp a = CaptureStamp::fingerprint(card(10.2), none, visits);
  EXPECT_EQ(a.visit, 42);
  EXPECT_EQ(a.key, CaptureStamp::fingerprint(card(10.9), none, visits).key);
  EXPECT_NE(CaptureStamp::fingerprint(card(10.9), none, visits).key,
            CaptureStamp::fingerprint(card(11.0), none, visits).key);
  EXPECT_EQ(CaptureStamp::fingerprint(card(-0.5), none, {}).key, CaptureStamp::fingerprint(card(0.5), none, {}).key)
      << "truncation goes toward zero";
  EXPECT_EQ(CaptureStamp::fingerprint(card(INFINITY), none, {}).key, CaptureStamp::fingerprint(card(0), none, {}).key)
      << "a value without an integer form counts as 0";
  EXPECT_EQ(CaptureStamp::fingerprint(card(1e30), none, {}).key, CaptureStamp::fingerprint(card(0), none, {}).key);
  EXPECT_EQ(CaptureStamp::fingerprint(card(0), none, {}).visit, 0);

  WindowCard retitled = card(10), blurred = card(10), minimized = card(10);
  retitled.title = "Report 2";
  blurred.blursPicture = true;
  minimized.state = WindowState::minimized;
  const int64_t base = CaptureStamp::fingerprint(card(10), none, {}).key;
  EXPECT_NE(base, CaptureStamp::fingerprint(retitled, none, {}).key);
  EXPECT_NE(base, CaptureStamp::fingerprint(blurred, none, {}).key);
  EXPECT_NE(base, CaptureStamp::fingerprint(minimized, none, {}).key);
  const int64_t tab1 = CaptureStamp::fingerprint(card(10), {{7, 1}}, {}).key;
  EXPECT_NE(base, tab1);
  EXPECT_NE(tab1, CaptureStamp::fingerprint(card(10), {{7, 2}}, {}).key);
  EXPECT_EQ(base, CaptureStamp::fingerprint(card(10), {{8, 1}}, {}).key) << "another window's tab does not count";
}

TEST(CaptureExtentTest, CropsARegionOnlyFromAPictureOfTheWholeWindow) {
  const Rect window{0, 0, 1000, 800};
  const Rect content{0, 0, 1000, 800};
  auto crop = CaptureExtent::liveCropExtent(window, Rect{0, 100, 1000, 700}, 1, 1, content);
  ASSERT_TRUE(crop);
  EXPECT_EQ(*crop, (CaptureExtent{0, 0.125, 1, 0.875}));
  EXPECT_FALSE(CaptureExtent::liveCropExtent(window, Rect{0, 100, 1000, 700}, 1, 1, Rect{0, 0, 1000, 700}))
      << "content already of the region's shape";

  auto slack = CaptureExtent::liveCropExtent(window, Rect{0, 100, 1000.5, 700}, 1, 1, content);
  ASSERT_TRUE(slack);
  EXPECT_DOUBLE_EQ(slack->width, 1.0) << "clipped to 1 - x";
  EXPECT_DOUBLE_EQ(slack->height, 0.875);
  EXPECT_FALSE(CaptureExtent::liveCropExtent(window, Rect{0, 100, 1001.5, 700}, 1, 1, content));
  EXPECT_FALSE(CaptureExtent::liveCropExtent(window, Rect{-0.5, 100, 900, 700}, 1, 1, content)) << "x < 0";
  EXPECT_FALSE(CaptureExtent::liveCropExtent(window, Rect{0, -0.5, 1000, 700}, 1, 1, content)) << "y < 0";
}

TEST(CaptureExtentTest, RefusesMissingDegenerateAndTinyRectangles) {
  const Rect window{0, 0, 1000, 800};
  const Rect content{0, 0, 1000, 800};
  EXPECT_FALSE(CaptureExtent::liveCropExtent(std::nullopt, Rect{0, 100, 1000, 700}, 1, 1, content));
  EXPECT_FALSE(CaptureExtent::liveCropExtent(window, std::nullopt, 1, 1, content));
  EXPECT_FALSE(CaptureExtent::liveCropExtent(window, Rect{0, 100, 0, 700}, 1, 1, content));
  EXPECT_FALSE(CaptureExtent::liveCropExtent(window, Rect{0, 100, NAN, 700}, 1, 1, content));
  EXPECT_FALSE(CaptureExtent::liveCropExtent(window, Rect{0, 100, 1000, 700}, 1, 1, Rect{0, 0, 1000, 0}));
  EXPECT_FALSE(CaptureExtent::liveCropExtent(window, Rect{0, 700, 1000, 50}, 1, 1, content)) << "under 0.1 high";
  auto half = CaptureExtent::liveCropExtent(window, Rect{0, 100, 1000, 700}, 0.5, 0.5, content);
  ASSERT_TRUE(half) << "only the usable part of the picture";
  EXPECT_DOUBLE_EQ(half->originY, 0.0625);
  EXPECT_DOUBLE_EQ(half->height, 0.4375);
}

}  // namespace
}  // namespace quorvel
