#include "pictures/SiteIconUploader.h"

namespace quorvel {

namespace {

// A chrome texture in the site-icon tables.
struct UploadedIcon final : IconTexture {
  explicit UploadedIcon(ChromeTextureRef texture) : texture(std::move(texture)) {}
  ChromeTextureRef texture;
};

}  // namespace

IconTextureRef SiteIconUploader::makeMipmappedTexture(const RasterBitmap& bitmap, std::string_view label) {
  ChromeTextureRef texture = uploader_.upload(bitmap, label);
  if (!texture) return nullptr;
  return std::make_shared<UploadedIcon>(std::move(texture));
}

IconTextureRef SiteIconUploader::iconTexture(ChromeTextureRef texture) {
  if (!texture) return nullptr;
  return std::make_shared<UploadedIcon>(std::move(texture));
}

ChromeTextureRef SiteIconUploader::chromeTexture(const IconTextureRef& texture) {
  const auto* uploaded = dynamic_cast<const UploadedIcon*>(texture.get());
  return uploaded ? uploaded->texture : nullptr;
}

}  // namespace quorvel
