#include <gtest/gtest.h>

#include "gpu/recording/RecordingDevice.h"
#include "pictures/GpuChromeUploader.h"
#include "platform/RasterBitmap.h"

namespace quorvel {
namespace {

TEST(GpuChromeUploaderTest, UploadsLevelZeroAndBuildsTheChainUnderTheLabel) {
  auto device = RecordingDevice::make();
  GpuChromeUploader uploader(TextureRasterizer{GpuContext::make(device)});
  auto bitmap = RasterBitmap::make(40, 20);
  ASSERT_TRUE(bitmap);
  ChromeTextureRef texture = uploader.upload(*bitmap, "Quorvel icon mipmaps");
  ASSERT_TRUE(texture);
  EXPECT_EQ(texture->width(), 40);
  EXPECT_EQ(texture->height(), 20);
  auto gpu = GpuChromeUploader::gpuTexture(texture);
  ASSERT_TRUE(gpu);
  EXPECT_EQ(gpu->mipLevelCount(), 6u);
  EXPECT_EQ(gpu->label(), "Quorvel icon mipmaps");
  auto log = device->commandBuffers();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].label, "Quorvel icon mipmaps");
  // Level 0 and the chain in that one command buffer, which nobody waits for.
  ASSERT_EQ(log[0].encoders.size(), 1u);
  const auto& blits = log[0].encoders[0].blits;
  ASSERT_EQ(blits.size(), 2u);
  EXPECT_EQ(blits[0].kind, RecordedBlit::Kind::upload);
  EXPECT_EQ(blits[1].kind, RecordedBlit::Kind::generateMipmaps);
  EXPECT_FALSE(GpuChromeUploader::gpuTexture(nullptr));

  auto failures = device->failures();
  failures.textures = true;
  device->setFailures(failures);
  EXPECT_FALSE(uploader.upload(*bitmap, "Quorvel icon mipmaps")) << "a refused texture uploads nothing";
}

}  // namespace
}  // namespace quorvel
