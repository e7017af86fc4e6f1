#include "pictures/GpuChromeUploader.h"

#include "platform/RasterBitmap.h"

namespace quorvel {

ChromeTextureRef GpuChromeUploader::upload(const RasterBitmap& bitmap, std::string_view label) {
  if (!rasterizer_.context || bitmap.width() <= 0 || bitmap.height() <= 0) return nullptr;
  const auto w = static_cast<uint32_t>(bitmap.width()), h = static_cast<uint32_t>(bitmap.height());
  GpuTextureDescriptor descriptor{w, h, GpuTextureDescriptor::fullMipCount(w, h), false, std::string(label)};
  auto texture = rasterizer_.context->device->makeTexture(descriptor);
  if (!texture) return nullptr;
  // Level 0 and the mip chain in one command buffer that nobody waits for: the card renderer's
  // frames, committed later to the same queue, find them done. A summon's plates cost the main
  // thread no round trip to the GPU each.
  auto commandBuffer = rasterizer_.context->commandQueue->makeCommandBuffer();
  auto blit = commandBuffer ? commandBuffer->makeBlitEncoder() : nullptr;
  if (!blit) {
    if (!texture->replaceLevel(0, bitmap.data(), bitmap.bytesPerRow())) return nullptr;
    rasterizer_.generateMipmaps(texture, std::string(label));
    return std::make_shared<Texture>(std::move(texture));
  }
  commandBuffer->setLabel(std::string(label));
  blit->setLabel(std::string(label));
  if (!blit->uploadLevel(texture, 0, bitmap.data(), bitmap.bytesPerRow())) return nullptr;
  if (texture->mipLevelCount() > 1) blit->generateMipmaps(texture);
  blit->endEncoding();
  commandBuffer->commit();
  return std::make_shared<Texture>(std::move(texture));
}

ChromeTextureRef GpuChromeUploader::uploadPlate(const PlateCoverage& plate, std::string_view label) {
  if (!rasterizer_.context || plate.width <= 0 || plate.height <= 0 ||
      plate.bytes.size() < static_cast<size_t>(plate.width) * static_cast<size_t>(plate.height))
    return nullptr;
  const auto w = static_cast<uint32_t>(plate.width), h = static_cast<uint32_t>(plate.height);
  GpuTextureDescriptor descriptor{w, h, plate.mipmapped ? GpuTextureDescriptor::fullMipCount(w, h) : 1, false,
                                  std::string(label), GpuPixelFormat::r8Unorm};
  auto texture = rasterizer_.context->device->makeTexture(descriptor);
  if (!texture) return ChromeUploader::uploadPlate(plate, label);  // no single channel here: colours
  auto commandBuffer = rasterizer_.context->commandQueue->makeCommandBuffer();
  auto blit = commandBuffer ? commandBuffer->makeBlitEncoder() : nullptr;
  if (!blit) {
    if (!texture->replaceLevel(0, plate.bytes.data(), w)) return nullptr;
    rasterizer_.generateMipmaps(texture, std::string(label));
    return std::make_shared<Texture>(std::move(texture));
  }
  commandBuffer->setLabel(std::string(label));
  blit->setLabel(std::string(label));
  if (!blit->uploadLevel(texture, 0, plate.bytes.data(), w)) return nullptr;
  if (texture->mipLevelCount() > 1) blit->generateMipmaps(texture);
  blit->endEncoding();
  commandBuffer->commit();
  return std::make_shared<Texture>(std::move(texture));
}

std::shared_ptr<GpuTexture> GpuChromeUploader::gpuTexture(const ChromeTextureRef& texture) {
  auto* own = dynamic_cast<const Texture*>(texture.get());
  return own ? own->texture() : nullptr;
}

}  // namespace quorvel
