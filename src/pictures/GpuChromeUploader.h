#pragma once

#include <memory>
#include <string_view>

#include "gpu/GpuResources.h"
#include "pictures/ChromeTexture.h"
#include "pictures/TextureRasterizer.h"

namespace quorvel {

// The texture caches' upload on the GPU layer: a bitmap becomes a BGRA8 texture with a full mip
// chain, level 0 written from the bitmap and the chain built by the rasterizer under the cache's
// label. The card renderer's providers read the GPU texture back out of the chrome texture.
class GpuChromeUploader final : public ChromeUploader {
 public:
  // A chrome texture backed by a GPU texture.
  class Texture final : public ChromeTexture {
   public:
    explicit Texture(std::shared_ptr<GpuTexture> texture) : texture_(std::move(texture)) {}
    int width() const override { return static_cast<int>(texture_->width()); }
    int height() const override { return static_cast<int>(texture_->height()); }
    const std::shared_ptr<GpuTexture>& texture() const { return texture_; }

   private:
    std::shared_ptr<GpuTexture> texture_;
  };

  explicit GpuChromeUploader(TextureRasterizer rasterizer) : rasterizer_(std::move(rasterizer)) {}
  ChromeTextureRef upload(const RasterBitmap& bitmap, std::string_view label) override;
  // A single-channel texture of the coverage, with its mip chain when the plate asks for one.
  ChromeTextureRef uploadPlate(const PlateCoverage& plate, std::string_view label) override;

  // The GPU texture of a chrome texture made here; none for another kind or none.
  static std::shared_ptr<GpuTexture> gpuTexture(const ChromeTextureRef& texture);

 private:
  TextureRasterizer rasterizer_;
};

}  // namespace quorvel
