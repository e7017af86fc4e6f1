#include "gpu/vulkan/VulkanCommandBuffer.h"

#include <algorithm>

#include "gpu/vulkan/VulkanBlitEncoder.h"
#include "gpu/vulkan/VulkanBuffer.h"
#include "gpu/vulkan/VulkanDrawable.h"
#include "gpu/vulkan/VulkanRenderEncoder.h"
#include "gpu/vulkan/VulkanTexture.h"

namespace quorvel {
namespace {

void imageBarrier(VkCommandBuffer cb, VkImage image, VkImageLayout from, VkImageLayout to,
                  VkPipelineStageFlags2 srcStage, VkAccessFlags2 srcAccess, VkPipelineStageFlags2 dstStage,
                  VkAccessFlags2 dstAccess) {
  VkImageMemoryBarrier2 barrier{VK_STRUCTURE_TYPE_IMAGE_MEMORY_BARRIER_2};
  barrier.srcStageMask = srcStage;
  barrier.srcAccessMask = srcAccess;
  barrier.dstStageMask = dstStage;
  barrier.dstAccessMask = dstAccess;
  barrier.oldLayout = from;
  barrier.newLayout = to;
  barrier.srcQueueFamilyIndex = barrier.dstQueueFamilyIndex = VK_QUEUE_FAMILY_IGNORED;
  barrier.image = image;
  barrier.subresourceRange = {VK_IMAGE_ASPECT_COLOR_BIT, 0, 1, 0, 1};
  VkDependencyInfo dep{VK_STRUCTURE_TYPE_DEPENDENCY_INFO};
  dep.imageMemoryBarrierCount = 1;
  dep.pImageMemoryBarriers = &barrier;
  vkCmdPipelineBarrier2(cb, &dep);
}

}  // namespace

VulkanCommandBuffer::VulkanCommandBuffer(std::shared_ptr<VulkanDevice> device, VulkanCore::CommandSlot slot)
    : device_(std::move(device)), core_(device_->core()), slot_(slot) {
  VulkanCore::fullBarrier(slot_.buffer);
}

VulkanCommandBuffer::~VulkanCommandBuffer() {
  if (!committed_) core_->recycleCommandSlot(slot_);
}

std::unique_ptr<GpuRenderEncoder> VulkanCommandBuffer::makeRenderEncoder(const GpuRenderPass& pass) {
  if (encoderOpen_ || committed_) return nullptr;
  auto encoder = VulkanRenderEncoder::begin(*this, pass);
  if (encoder) encoderOpen_ = true;
  return encoder;
}

std::unique_ptr<GpuBlitEncoder> VulkanCommandBuffer::makeBlitEncoder() {
  if (encoderOpen_ || committed_) return nullptr;
  encoderOpen_ = true;
  return std::make_unique<VulkanBlitEncoder>(*this);
}

void VulkanCommandBuffer::addCompletedHandler(std::function<void()> handler) {
  if (committed_ || !handler) return;
  handlers_.push_back(std::move(handler));
}

void VulkanCommandBuffer::present(const std::shared_ptr<GpuDrawable>& drawable) {
  auto d = std::dynamic_pointer_cast<VulkanDrawable>(drawable);
  if (committed_ || !d) return;
  if (std::find(drawables_.begin(), drawables_.end(), d) == drawables_.end()) drawables_.push_back(std::move(d));
}

bool VulkanCommandBuffer::wasDrawn(const VulkanTexture* texture) const {
  return std::find(drawn_.begin(), drawn_.end(), texture) != drawn_.end();
}

void VulkanCommandBuffer::recordHostRead(const VulkanDrawable& drawable) {
  VkCommandBuffer cb = slot_.buffer;
  const VulkanTexture& texture = *drawable.vulkanTexture();
  retain(drawable.vulkanTexture());
  if (!wasDrawn(&texture)) {
    // Not drawn: show it cleared to transparent rather than an older frame.
    texture.recordLayout(cb, 0, 1, texture.restingLayout(), VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL);
    VkClearColorValue zero{};
    VkImageSubresourceRange range{VK_IMAGE_ASPECT_COLOR_BIT, 0, 1, 0, 1};
    vkCmdClearColorImage(cb, texture.image(), VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL, &zero, 1, &range);
    texture.recordLayout(cb, 0, 1, VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL, texture.restingLayout());
  }
  VulkanCore::barrierToHost(cb, VK_PIPELINE_STAGE_2_ALL_COMMANDS_BIT);
}

void VulkanCommandBuffer::recordCopyOut(const VulkanDrawable& drawable) {
  VkCommandBuffer cb = slot_.buffer;
  const VulkanTexture& texture = *drawable.vulkanTexture();
  const VulkanBuffer& buffer = *drawable.copyOut().buffer;
  if (buffer.length() < static_cast<size_t>(texture.width()) * texture.height() * 4) return;
  retain(drawable.vulkanTexture());
  retain(drawable.copyOut().buffer);
  if (wasDrawn(&texture)) {
    texture.recordLayout(cb, 0, 1, texture.restingLayout(), VK_IMAGE_LAYOUT_TRANSFER_SRC_OPTIMAL);
  } else {
    // Not drawn: show it cleared to transparent rather than an older frame.
    texture.recordLayout(cb, 0, 1, texture.restingLayout(), VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL);
    VkClearColorValue zero{};
    VkImageSubresourceRange range{VK_IMAGE_ASPECT_COLOR_BIT, 0, 1, 0, 1};
    vkCmdClearColorImage(cb, texture.image(), VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL, &zero, 1, &range);
    texture.recordLayout(cb, 0, 1, VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL, VK_IMAGE_LAYOUT_TRANSFER_SRC_OPTIMAL);
  }
  VkBufferImageCopy region{};
  region.imageSubresource = {VK_IMAGE_ASPECT_COLOR_BIT, 0, 0, 1};
  region.imageExtent = {texture.width(), texture.height(), 1};
  if (const std::optional<GpuRegion>& damage = drawable.damage(); damage && wasDrawn(&texture)) {
    // Only the rectangle that changed, at its own place in the buffer's rows.
    const uint32_t x = std::min(damage->x, texture.width()), y = std::min(damage->y, texture.height());
    const uint32_t w = std::min(damage->width, texture.width() - x), h = std::min(damage->height, texture.height() - y);
    region.bufferOffset = (static_cast<VkDeviceSize>(y) * texture.width() + x) * 4;
    region.bufferRowLength = texture.width();
    region.imageOffset = {static_cast<int32_t>(x), static_cast<int32_t>(y), 0};
    region.imageExtent = {w, h, 1};
  }
  if (region.imageExtent.width > 0 && region.imageExtent.height > 0)
    vkCmdCopyImageToBuffer(cb, texture.image(), VK_IMAGE_LAYOUT_TRANSFER_SRC_OPTIMAL, buffer.buffer(), 1, &region);
  texture.recordLayout(cb, 0, 1, VK_IMAGE_LAYOUT_TRANSFER_SRC_OPTIMAL, texture.restingLayout());
  VulkanCore::barrierToHost(cb, VK_PIPELINE_STAGE_2_ALL_COMMANDS_BIT);
}

void VulkanCommandBuffer::commit() {
  if (committed_) return;
  committed_ = true;
  VkCommandBuffer cb = slot_.buffer;
  for (const auto& d : drawables_) {
    if (!d->isSwapchainImage()) continue;
    VkImage image = d->vulkanTexture()->image();
    if (wasDrawn(d->vulkanTexture().get())) {
      imageBarrier(cb, image, VK_IMAGE_LAYOUT_COLOR_ATTACHMENT_OPTIMAL, VK_IMAGE_LAYOUT_PRESENT_SRC_KHR,
                   VK_PIPELINE_STAGE_2_COLOR_ATTACHMENT_OUTPUT_BIT, VK_ACCESS_2_COLOR_ATTACHMENT_WRITE_BIT,
                   VK_PIPELINE_STAGE_2_NONE, VK_ACCESS_2_NONE);
    } else {
      // Not drawn: show it cleared to transparent rather than whatever the image held.
      imageBarrier(cb, image, VK_IMAGE_LAYOUT_UNDEFINED, VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL,
                   VK_PIPELINE_STAGE_2_ALL_COMMANDS_BIT, VK_ACCESS_2_NONE, VK_PIPELINE_STAGE_2_CLEAR_BIT,
                   VK_ACCESS_2_TRANSFER_WRITE_BIT);
      VkClearColorValue zero{};
      VkImageSubresourceRange range{VK_IMAGE_ASPECT_COLOR_BIT, 0, 1, 0, 1};
      vkCmdClearColorImage(cb, image, VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL, &zero, 1, &range);
      imageBarrier(cb, image, VK_IMAGE_LAYOUT_TRANSFER_DST_OPTIMAL, VK_IMAGE_LAYOUT_PRESENT_SRC_KHR,
                   VK_PIPELINE_STAGE_2_CLEAR_BIT, VK_ACCESS_2_TRANSFER_WRITE_BIT, VK_PIPELINE_STAGE_2_NONE,
                   VK_ACCESS_2_NONE);
    }
  }
  for (const auto& d : drawables_) {
    if (d->isSwapchainImage()) continue;
    if (d->copyOut().buffer) recordCopyOut(*d);
    else if (d->vulkanTexture()->isOnHostMemory() && d->copyOut().onCopied) recordHostRead(*d);
    else continue;
    handlers_.insert(handlers_.begin(), [d] {
      if (d->copyOut().onCopied) d->copyOut().onCopied(d->damage());
    });
  }
  VulkanCore::fullBarrier(cb);
  if (!label_.empty()) core_->setName(VK_OBJECT_TYPE_COMMAND_BUFFER, reinterpret_cast<uint64_t>(cb), label_);
  VulkanSubmission submission;
  submission.slot = slot_;
  submission.drawables = std::move(drawables_);
  submission.keepAlive = std::move(keepAlive_);
  submission.handlers = std::move(handlers_);
  submission.completion = completion_;
  if (vkEndCommandBuffer(cb) != VK_SUCCESS) {
    // Nothing can run; tell the handlers now. The drawables are released unpresented.
    {
      std::lock_guard lock(completion_->mutex);
      completion_->outcome = GpuCommandStatus::error;
    }
    for (auto& handler : submission.handlers) handler();
    core_->recycleCommandSlot(slot_);
    std::lock_guard lock(completion_->mutex);
    completion_->status = GpuCommandStatus::error;
    completion_->changed.notify_all();
    return;
  }
  device_->submit(std::move(submission));
}

void VulkanCommandBuffer::waitUntilCompleted() {
  if (!committed_) return;
  std::unique_lock lock(completion_->mutex);
  completion_->changed.wait(lock, [&] {
    return completion_->status == GpuCommandStatus::completed || completion_->status == GpuCommandStatus::error;
  });
}

GpuCommandStatus VulkanCommandBuffer::status() const {
  std::lock_guard lock(completion_->mutex);
  return completion_->outcome.value_or(completion_->status);
}

}  // namespace quorvel
