#include "gpu/vulkan/VulkanBlitEncoder.h"

#include <cstring>

#include "gpu/vulkan/VulkanBuffer.h"
#include "gpu/vulkan/VulkanCommandBuffer.h"
#include "gpu/vulkan/VulkanTexture.h"

namespace quorvel {
namespace {

VkImageBlit blitRegion(uint32_t srcLevel, GpuRegion src, uint32_t dstLevel, GpuRegion dst) {
  VkImageBlit region{};
  region.srcSubresource = {VK_IMAGE_ASPECT_COLOR_BIT, srcLevel, 0, 1};
  region.srcOffsets[0] = {static_cast<int32_t>(src.x), static_cast<int32_t>(src.y), 0};
  region.srcOffsets[1] = {static_cast<int32_t>(src.x + src.width), static_cast<int32_t>(src.y + src.height), 1};
  region.dstSubresource = {VK_IMAGE_ASPECT_COLOR_BIT, dstLevel, 0, 1};
  region.dstOffsets[0] = {static_cast<int32_t>(dst.x), static_cast<int32_t>(dst.y), 0};
  region.dstOffsets[1] = {static_cast<int32_t>(dst.x + dst.width), static_cast<int32_t>(dst.y + dst.height), 1};
  return region;
}

bool fits(const VulkanTexture& t, uint32_t level, GpuRegion r) {
  return level < t.mipLevelCount() && r.width > 0 && r.height > 0 && r.x + r.width <= t.levelWidth(level) &&
         r.y + r.height <= t.levelHeight(level);
}

}  // namespace

VulkanBlitEncoder::VulkanBlitEncoder(VulkanCommandBuffer& owner) : owner_(owner), cb_(owner.commandBuffer()) {}

VulkanBlitEncoder::~VulkanBlitEncoder() {
  if (!ended_) endEncoding();
}

void VulkanBlitEncoder::setLabel(const std::string& label) {
  if (labelled_ || ended_) return;
  labelled_ = true;
  owner_.core().beginLabel(cb_, label);
}

bool VulkanBlitEncoder::uploadLevel(const std::shared_ptr<GpuTexture>& texture, uint32_t level, const void* bytes,
                                    size_t bytesPerRow) {
  auto t = std::dynamic_pointer_cast<VulkanTexture>(texture);
  if (ended_ || !t || t->isSwapchainImage() || level >= t->mipLevelCount() || !bytes) return false;
  const size_t row = static_cast<size_t>(t->levelWidth(level)) * bytesPerPixel(t->format());
  if (bytesPerRow < row) return false;
  auto staging = VulkanBuffer::make(owner_.coreRef(), row * t->levelHeight(level), t->label() + " upload");
  if (!staging) return false;
  for (uint32_t y = 0; y < t->levelHeight(level); ++y)
    std::memcpy(static_cast<char*>(staging->contents()) + y * row, static_cast<const char*>(bytes) + y * bytesPerRow,
                row);
  t->recordUpload(cb_, staging->buffer(), level);
  owner_.retain(staging);
  owner_.retain(t);
  return true;
}

void VulkanBlitEncoder::blit(const std::shared_ptr<GpuTexture>& source, uint32_t sourceLevel, GpuRegion sourceRegion,
                             const std::shared_ptr<GpuTexture>& destination, uint32_t destinationLevel,
                             GpuRegion destinationRegion) {
  auto s = std::dynamic_pointer_cast<VulkanTexture>(source);
  auto d = std::dynamic_pointer_cast<VulkanTexture>(destination);
  if (ended_ || !s || !d || s->isSwapchainImage() || d->isSwapchainImage() || !fits(*s, sourceLevel, sourceRegion) ||
      !fits(*d, destinationLevel, destinationRegion))
    return;
  if (s == d && sourceLevel == destinationLevel) return;  // a level cannot be both ends of a blit
  s->recordLayout(cb_, sourceLevel, 1, s->restingLayout(), VK_IMAGE_LAYOUT_TRANSFER_SRC_OPTIMAL);
  d->recordLayout(cb_, destinationLevel, 1, d->restingLayout(), VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL);
  const VkImageBlit region = blitRegion(sourceLevel, sourceRegion, destinationLevel, destinationRegion);
  vkCmdBlitImage(cb_, s->image(), VK_IMAGE_LAYOUT_TRANSFER_SRC_OPTIMAL, d->image(),
                 VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL, 1, &region, VK_FILTER_LINEAR);
  s->recordLayout(cb_, sourceLevel, 1, VK_IMAGE_LAYOUT_TRANSFER_SRC_OPTIMAL, s->restingLayout());
  d->recordLayout(cb_, destinationLevel, 1, VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL, d->restingLayout());
  owner_.retain(s);
  owner_.retain(d);
}

bool VulkanBlitEncoder::copyLevel(const std::shared_ptr<GpuTexture>& source, uint32_t sourceLevel,
                                  const std::shared_ptr<GpuTexture>& destination, uint32_t destinationLevel) {
  auto s = std::dynamic_pointer_cast<VulkanTexture>(source);
  auto d = std::dynamic_pointer_cast<VulkanTexture>(destination);
  if (ended_ || !s || !d || s->isSwapchainImage() || d->isSwapchainImage() || sourceLevel >= s->mipLevelCount() ||
      destinationLevel >= d->mipLevelCount())
    return false;
  if (s->levelWidth(sourceLevel) != d->levelWidth(destinationLevel) ||
      s->levelHeight(sourceLevel) != d->levelHeight(destinationLevel))
    return false;
  if (s == d && sourceLevel == destinationLevel) return true;
  s->recordLayout(cb_, sourceLevel, 1, s->restingLayout(), VK_IMAGE_LAYOUT_TRANSFER_SRC_OPTIMAL);
  d->recordLayout(cb_, destinationLevel, 1, d->restingLayout(), VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL);
  VkImageCopy region{};
  region.srcSubresource = {VK_IMAGE_ASPECT_COLOR_BIT, sourceLevel, 0, 1};
  region.dstSubresource = {VK_IMAGE_ASPECT_COLOR_BIT, destinationLevel, 0, 1};
  region.extent = {s->levelWidth(sourceLevel), s->levelHeight(sourceLevel), 1};
  vkCmdCopyImage(cb_, s->image(), VK_IMAGE_LAYOUT_TRANSFER_SRC_OPTIMAL, d->image(),
                 VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL, 1, &region);
  s->recordLayout(cb_, sourceLevel, 1, VK_IMAGE_LAYOUT_TRANSFER_SRC_OPTIMAL, s->restingLayout());
  d->recordLayout(cb_, destinationLevel, 1, VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL, d->restingLayout());
  owner_.retain(s);
  owner_.retain(d);
  return true;
}

bool VulkanBlitEncoder::copyRegion(const std::shared_ptr<GpuTexture>& source,
                                   const std::shared_ptr<GpuTexture>& destination, GpuRegion region) {
  auto s = std::dynamic_pointer_cast<VulkanTexture>(source);
  auto d = std::dynamic_pointer_cast<VulkanTexture>(destination);
  if (ended_ || !s || !d || s == d || s->isSwapchainImage() || d->isSwapchainImage() || s->width() != d->width() ||
      s->height() != d->height() || !fits(*s, 0, region))
    return false;
  s->recordLayout(cb_, 0, 1, s->restingLayout(), VK_IMAGE_LAYOUT_TRANSFER_SRC_OPTIMAL);
  d->recordLayout(cb_, 0, 1, d->restingLayout(), VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL);
  VkImageCopy copy{};
  copy.srcSubresource = {VK_IMAGE_ASPECT_COLOR_BIT, 0, 0, 1};
  copy.dstSubresource = copy.srcSubresource;
  copy.srcOffset = {static_cast<int32_t>(region.x), static_cast<int32_t>(region.y), 0};
  copy.dstOffset = copy.srcOffset;
  copy.extent = {region.width, region.height, 1};
  vkCmdCopyImage(cb_, s->image(), VK_IMAGE_LAYOUT_TRANSFER_SRC_OPTIMAL, d->image(),
                 VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL, 1, &copy);
  s->recordLayout(cb_, 0, 1, VK_IMAGE_LAYOUT_TRANSFER_SRC_OPTIMAL, s->restingLayout());
  d->recordLayout(cb_, 0, 1, VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL, d->restingLayout());
  owner_.retain(s);
  owner_.retain(d);
  return true;
}

void VulkanBlitEncoder::generateMipmaps(const std::shared_ptr<GpuTexture>& texture) {
  auto t = std::dynamic_pointer_cast<VulkanTexture>(texture);
  if (ended_ || !t || t->isSwapchainImage() || t->mipLevelCount() < 2) return;
  for (uint32_t level = 1; level < t->mipLevelCount(); ++level) {
    t->recordLayout(cb_, level - 1, 1, t->restingLayout(), VK_IMAGE_LAYOUT_TRANSFER_SRC_OPTIMAL);
    t->recordLayout(cb_, level, 1, t->restingLayout(), VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL);
    const VkImageBlit region =
        blitRegion(level - 1, {0, 0, t->levelWidth(level - 1), t->levelHeight(level - 1)}, level,
                   {0, 0, t->levelWidth(level), t->levelHeight(level)});
    vkCmdBlitImage(cb_, t->image(), VK_IMAGE_LAYOUT_TRANSFER_SRC_OPTIMAL, t->image(),
                   VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL, 1, &region, VK_FILTER_LINEAR);
    t->recordLayout(cb_, level - 1, 1, VK_IMAGE_LAYOUT_TRANSFER_SRC_OPTIMAL, t->restingLayout());
    t->recordLayout(cb_, level, 1, VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL, t->restingLayout());
  }
  owner_.retain(t);
}

void VulkanBlitEncoder::endEncoding() {
  if (ended_) return;
  ended_ = true;
  if (labelled_) owner_.core().endLabel(cb_);
  owner_.encoderEnded();
}

}  // namespace quorvel
