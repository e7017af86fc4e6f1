#include "pictures/TextureRasterizer.h"

namespace quorvel {

void TextureRasterizer::generateMipmaps(const std::shared_ptr<GpuTexture>& texture, const std::string& label) const {
  if (!texture || texture->mipLevelCount() < 2 || !context) return;
  auto commandBuffer = context->commandQueue->makeCommandBuffer();
  if (!commandBuffer) return;
  auto blit = commandBuffer->makeBlitEncoder();
  if (!blit) return;
  commandBuffer->setLabel(label);
  blit->setLabel(label);
  blit->generateMipmaps(texture);
  blit->endEncoding();
  commandBuffer->commit();
}

}  // namespace quorvel
