#include <gtest/gtest.h>

#include "ChromeFakes.h"
#include "base/ManualLoop.h"
#include "gpu/recording/RecordingDevice.h"
#include "pictures/GpuChromeUploader.h"
#include "pictures/SiteIconUploader.h"
#include "tabs/FaviconStore.h"

namespace quorvel {
namespace {

// Every icon decodes to an opaque square whose first pixel's blue is the first byte.
class SquareDecoder final : public IconDecoder {
 public:
  Result render(std::span<const uint8_t> bytes) const override {
    if (bytes.empty()) return {std::nullopt, Failure::empty};
    Result result;
    result.bitmap = RasterBitmap::make(IconTextureMaker::kSide, IconTextureMaker::kSide);
    result.bitmap->data()[0] = bytes[0];
    result.bitmap->data()[3] = 255;
    return result;
  }
};

TEST(SiteIconUploader, SiteIconsBecomeChromeTexturesTheRendererCanDraw) {
  ManualLoop loop;
  testing::FakeUploader uploader;
  SiteIconUploader textures(uploader);
  SquareDecoder decoder;
  auto store = FaviconStore::create(textures, decoder, [] {}, loop.main(), loop.main());
  store->setTabSite(1, "news.example");
  store->enqueue({{"news.example", {42}}, {"empty.example", {}}});
  loop.runUntilIdle();

  ASSERT_EQ(uploader.uploads.size(), 1u);
  const ChromeTextureRef texture = SiteIconUploader::chromeTexture(store->texture(1));
  ASSERT_EQ(texture, uploader.uploads[0]);
  EXPECT_EQ(texture->width(), 128);
  EXPECT_EQ(uploader.uploads[0]->label, FaviconStore::kMipmapLabel);
  EXPECT_EQ(uploader.uploads[0]->bitmap.pixel(0, 0).blue, 42);

  // A refused upload leaves the site without a texture; a texture from elsewhere has no chrome
  // texture inside.
  uploader.refuse = true;
  store->enqueue({{"mail.example", {7}}});
  loop.runUntilIdle();
  EXPECT_EQ(store->siteOrder(), std::vector<std::string>{"news.example"});
  struct Other final : IconTexture {};
  EXPECT_EQ(SiteIconUploader::chromeTexture(std::make_shared<Other>()), nullptr);
  EXPECT_EQ(SiteIconUploader::chromeTexture(nullptr), nullptr);
}

TEST(SiteIconUploader, OnTheGpuASiteIconIsA128PixelTextureWithItsWholeMipChain) {
  ManualLoop loop;
  auto device = RecordingDevice::make();
  GpuChromeUploader gpu(TextureRasterizer{GpuContext::make(device)});
  SiteIconUploader textures(gpu);
  SquareDecoder decoder;
  auto store = FaviconStore::create(textures, decoder, [] {}, loop.main(), loop.main());
  store->setTabSite(1, "news.example");
  store->enqueue({{"news.example", {42}}});
  loop.runUntilIdle();

  const auto texture = GpuChromeUploader::gpuTexture(SiteIconUploader::chromeTexture(store->texture(1)));
  ASSERT_TRUE(texture);
  EXPECT_EQ(texture->width(), 128u);
  EXPECT_EQ(texture->height(), 128u);
  EXPECT_EQ(texture->mipLevelCount(), 8u);
  const auto commandBuffers = device->commandBuffers();
  ASSERT_EQ(commandBuffers.size(), 1u);
  EXPECT_EQ(commandBuffers[0].label, FaviconStore::kMipmapLabel);
}

}  // namespace
}  // namespace quorvel
