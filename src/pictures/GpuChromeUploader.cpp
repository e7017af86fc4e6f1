#include "pictures/GpuChromeUploader.h"

#include "platform/RasterBitmap.h"

namespace quorvel {

ChromeTextureRef GpuChromeUploader::upload(const RasterBitmap& bitmap, std::string_view label) {
  if (!rasterizer_.context || bitmap.width() <= 0 || bitmap.height() <= 0) return nullptr;
  const auto w = static_cast<uint32_t>(bitmap.width()), h = static_cast<uint32_t>(bitmap.height());
  GpuTextureDescriptor descriptor{w, h, GpuTextureDescriptor::fullMipCount(w, h), false, std::string(label)};
  auto texture = rasterizer_.context->device->makeTexture(descriptor);
  if (!texture || !texture->replaceLevel(0, bitmap.data(), bitmap.bytesPerRow())) return nullptr;
  rasterizer_.generateMipmaps(texture, std::string(label));
  return std::make_shared<Texture>(std::move(texture));
}

std::shared_ptr<GpuTexture> GpuChromeUploader::gpuTexture(const ChromeTextureRef& texture) {
  auto* own = dynamic_cast<const Texture*>(texture.get());
  return own ? own->texture() : nullptr;
}

}  // namespace quorvel
