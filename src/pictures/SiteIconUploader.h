#pragma once

#include "pictures/ChromeTexture.h"
#include "tabs/IconTextureMaker.h"

namespace quorvel {

// The site-icon store's way to the GPU: the same uploader the chrome texture caches use, so a
// site icon is a chrome texture (BGRA, full mip chain built on the GPU) like an application icon.
// The store holds it as an opaque icon texture; the renderer's provider gets the chrome texture
// back with `chromeTexture` (and, on the GPU uploader, its GPU texture with
// GpuChromeUploader::gpuTexture). Main thread only, as the store calls it.
class SiteIconUploader final : public IconTextureMaker {
 public:
  explicit SiteIconUploader(ChromeUploader& uploader) : uploader_(uploader) {}

  IconTextureRef makeMipmappedTexture(const RasterBitmap& bitmap, std::string_view label) override;

  // A chrome texture made elsewhere (a site icon cropped from a tab strip) as the store holds it.
  static IconTextureRef iconTexture(ChromeTextureRef texture);
  // The chrome texture inside a texture this uploader made; null for any other texture.
  static ChromeTextureRef chromeTexture(const IconTextureRef& texture);

 private:
  ChromeUploader& uploader_;
};

}  // namespace quorvel
