#include "gpu/vulkan/VulkanRenderEncoder.h"

#include <algorithm>
#include <cstring>

#include "gpu/vulkan/VulkanBuffer.h"
#include "gpu/vulkan/VulkanCommandBuffer.h"
#include "gpu/vulkan/VulkanRenderPipeline.h"
#include "gpu/vulkan/VulkanSampler.h"
#include "gpu/vulkan/VulkanTexture.h"

namespace quorvel {
namespace {

// Push-constant offsets of the byte bindings (see GpuRenderEncoder).
constexpr uint32_t kVertexBytesOffset = 0;
constexpr uint32_t kFragmentBytes0Offset = 16;
constexpr uint32_t kFragmentBytes1Offset = 32;
constexpr size_t kBytesRoom = 16;

}  // namespace

std::unique_ptr<VulkanRenderEncoder> VulkanRenderEncoder::begin(VulkanCommandBuffer& owner, const GpuRenderPass& pass) {
  auto target = std::dynamic_pointer_cast<VulkanTexture>(pass.colorTexture);
  if (!target) return nullptr;
  std::unique_ptr<VulkanRenderEncoder> e(new VulkanRenderEncoder(owner));
  e->cb_ = owner.commandBuffer();
  owner.retain(target);
  VulkanCore::fullBarrier(e->cb_);
  e->target_ = target.get();
  const VkImageLayout layout = VK_IMAGE_LAYOUT_COLOR_ATTACHMENT_OPTIMAL;
  if (!target->isSwapchainImage()) {
    target->recordLayout(e->cb_, 0, 1, target->restingLayout(), layout);
  } else {
    VkImageMemoryBarrier2 barrier{VK_STRUCTURE_TYPE_IMAGE_MEMORY_BARRIER_2};
    barrier.srcStageMask = VK_PIPELINE_STAGE_2_COLOR_ATTACHMENT_OUTPUT_BIT;
    barrier.dstStageMask = VK_PIPELINE_STAGE_2_COLOR_ATTACHMENT_OUTPUT_BIT;
    barrier.dstAccessMask = VK_ACCESS_2_COLOR_ATTACHMENT_WRITE_BIT | VK_ACCESS_2_COLOR_ATTACHMENT_READ_BIT;
    barrier.oldLayout = owner.wasDrawn(target.get()) ? layout : VK_IMAGE_LAYOUT_UNDEFINED;
    barrier.newLayout = layout;
    barrier.srcQueueFamilyIndex = barrier.dstQueueFamilyIndex = VK_QUEUE_FAMILY_IGNORED;
    barrier.image = target->image();
    barrier.subresourceRange = {VK_IMAGE_ASPECT_COLOR_BIT, 0, 1, 0, 1};
    VkDependencyInfo dep{VK_STRUCTURE_TYPE_DEPENDENCY_INFO};
    dep.imageMemoryBarrierCount = 1;
    dep.pImageMemoryBarriers = &barrier;
    vkCmdPipelineBarrier2(e->cb_, &dep);
  }
  owner.markDrawn(target.get());
  VkRenderingAttachmentInfo color{VK_STRUCTURE_TYPE_RENDERING_ATTACHMENT_INFO};
  color.imageView = target->view();
  color.imageLayout = layout;
  color.loadOp = pass.clear ? VK_ATTACHMENT_LOAD_OP_CLEAR : VK_ATTACHMENT_LOAD_OP_LOAD;
  color.storeOp = VK_ATTACHMENT_STORE_OP_STORE;
  color.clearValue.color.float32[0] = static_cast<float>(pass.clearColor.red);
  color.clearValue.color.float32[1] = static_cast<float>(pass.clearColor.green);
  color.clearValue.color.float32[2] = static_cast<float>(pass.clearColor.blue);
  color.clearValue.color.float32[3] = static_cast<float>(pass.clearColor.alpha);
  VkRect2D area{{0, 0}, {target->width(), target->height()}};
  if (pass.area) {
    const uint32_t x = std::min(pass.area->x, target->width()), y = std::min(pass.area->y, target->height());
    area = {{static_cast<int32_t>(x), static_cast<int32_t>(y)},
            {std::min(pass.area->width, target->width() - x), std::min(pass.area->height, target->height() - y)}};
  }
  e->area_ = area;
  VkRenderingInfo rendering{VK_STRUCTURE_TYPE_RENDERING_INFO};
  rendering.renderArea = area;
  rendering.layerCount = 1;
  rendering.colorAttachmentCount = 1;
  rendering.pColorAttachments = &color;
  vkCmdBeginRendering(e->cb_, &rendering);
  VkViewport viewport{0, 0, static_cast<float>(target->width()), static_cast<float>(target->height()), 0, 1};
  vkCmdSetViewport(e->cb_, 0, 1, &viewport);
  vkCmdSetScissor(e->cb_, 0, 1, &area);
  return e;
}

VulkanRenderEncoder::~VulkanRenderEncoder() {
  if (!ended_) endEncoding();
}

void VulkanRenderEncoder::setLabel(const std::string& label) {
  if (labelled_ || ended_) return;
  labelled_ = true;
  owner_.core().beginLabel(cb_, label);
}

void VulkanRenderEncoder::setPipeline(const std::shared_ptr<GpuRenderPipeline>& pipeline) {
  auto* p = dynamic_cast<const VulkanRenderPipeline*>(pipeline.get());
  if (!p || p == pipeline_) return;
  owner_.retain(pipeline);
  pipeline_ = p;
  vkCmdBindPipeline(cb_, VK_PIPELINE_BIND_POINT_GRAPHICS, p->pipeline());
}

void VulkanRenderEncoder::setVertexBuffer(const std::shared_ptr<GpuBuffer>& buffer, size_t offset, uint32_t index) {
  auto* b = dynamic_cast<const VulkanBuffer*>(buffer.get());
  if (!b) return;
  if (index == 0) {
    if (b == vertices_) return;
    owner_.retain(buffer);
    vertices_ = b;
    VkBuffer handle = b->buffer();
    VkDeviceSize at = offset;
    vkCmdBindVertexBuffers(cb_, 0, 1, &handle, &at);
  } else if (index == 1) {
    if (b == records_ && offset == recordsOffset_) return;
    owner_.retain(buffer);
    records_ = b;
    recordsOffset_ = offset;
    recordsDirty_ = true;
  }
}

void VulkanRenderEncoder::pushConstants(uint32_t offset, const void* bytes, size_t length, size_t room) {
  unsigned char block[kBytesRoom]{};
  std::memcpy(block, bytes, std::min(length, room));
  vkCmdPushConstants(cb_, owner_.core().pipelineLayout(), VK_SHADER_STAGE_VERTEX_BIT | VK_SHADER_STAGE_FRAGMENT_BIT,
                     offset, static_cast<uint32_t>(room), block);
}

void VulkanRenderEncoder::setVertexBytes(const void* bytes, size_t length, uint32_t index) {
  if (index == 2 && bytes) pushConstants(kVertexBytesOffset, bytes, length, kBytesRoom);
}

void VulkanRenderEncoder::setFragmentBytes(const void* bytes, size_t length, uint32_t index) {
  if (!bytes) return;
  if (index == 0) pushConstants(kFragmentBytes0Offset, bytes, length, kBytesRoom);
  if (index == 1) pushConstants(kFragmentBytes1Offset, bytes, length, kBytesRoom);
}

void VulkanRenderEncoder::setFragmentTexture(const std::shared_ptr<GpuTexture>& texture, uint32_t index) {
  auto* t = dynamic_cast<const VulkanTexture*>(texture.get());
  if (index != 0 || !t || t == texture_) return;
  owner_.retain(texture);
  texture_ = t;
  textureDirty_ = true;
}

void VulkanRenderEncoder::setFragmentSampler(const std::shared_ptr<GpuSampler>& sampler, uint32_t index) {
  auto* s = dynamic_cast<const VulkanSampler*>(sampler.get());
  if (index != 0 || !s || s == sampler_) return;
  owner_.retain(sampler);
  sampler_ = s;
  samplerDirty_ = true;
}

void VulkanRenderEncoder::setScissor(std::optional<GpuRegion> region) {
  if (ended_) return;
  // Within the pass's area (the whole target unless the pass was given one).
  const auto ax = static_cast<uint32_t>(area_.offset.x), ay = static_cast<uint32_t>(area_.offset.y);
  const uint32_t ax1 = ax + area_.extent.width, ay1 = ay + area_.extent.height;
  VkRect2D scissor = area_;
  if (region) {
    const uint32_t x = std::clamp(region->x, ax, ax1), y = std::clamp(region->y, ay, ay1);
    const uint64_t x1 = std::clamp<uint64_t>(uint64_t{region->x} + region->width, x, ax1);
    const uint64_t y1 = std::clamp<uint64_t>(uint64_t{region->y} + region->height, y, ay1);
    scissor = {{static_cast<int32_t>(x), static_cast<int32_t>(y)},
               {static_cast<uint32_t>(x1 - x), static_cast<uint32_t>(y1 - y)}};
  }
  vkCmdSetScissor(cb_, 0, 1, &scissor);
}

void VulkanRenderEncoder::drawTriangleStrip(uint32_t vertexStart, uint32_t vertexCount) {
  if (ended_ || !pipeline_ || !vertices_ || !records_ || !texture_ || !sampler_) return;
  VkWriteDescriptorSet writes[3]{};
  VkDescriptorBufferInfo bufferInfo{records_->buffer(), recordsOffset_, VK_WHOLE_SIZE};
  VkDescriptorImageInfo imageInfo{VK_NULL_HANDLE, texture_->view(), texture_->restingLayout()};
  VkDescriptorImageInfo samplerInfo{sampler_->sampler(), VK_NULL_HANDLE, VK_IMAGE_LAYOUT_UNDEFINED};
  uint32_t count = 0;
  if (recordsDirty_) {
    writes[count] = {VK_STRUCTURE_TYPE_WRITE_DESCRIPTOR_SET};
    writes[count].dstBinding = 0;
    writes[count].descriptorCount = 1;
    writes[count].descriptorType = VK_DESCRIPTOR_TYPE_STORAGE_BUFFER;
    writes[count].pBufferInfo = &bufferInfo;
    ++count;
  }
  if (textureDirty_) {
    writes[count] = {VK_STRUCTURE_TYPE_WRITE_DESCRIPTOR_SET};
    writes[count].dstBinding = 1;
    writes[count].descriptorCount = 1;
    writes[count].descriptorType = VK_DESCRIPTOR_TYPE_SAMPLED_IMAGE;
    writes[count].pImageInfo = &imageInfo;
    ++count;
  }
  if (samplerDirty_) {
    writes[count] = {VK_STRUCTURE_TYPE_WRITE_DESCRIPTOR_SET};
    writes[count].dstBinding = 2;
    writes[count].descriptorCount = 1;
    writes[count].descriptorType = VK_DESCRIPTOR_TYPE_SAMPLER;
    writes[count].pImageInfo = &samplerInfo;
    ++count;
  }
  if (count > 0) owner_.core().pushDescriptors(cb_, count, writes);
  recordsDirty_ = textureDirty_ = samplerDirty_ = false;
  vkCmdDraw(cb_, vertexCount, 1, vertexStart, 0);
}

void VulkanRenderEncoder::endEncoding() {
  if (ended_) return;
  ended_ = true;
  vkCmdEndRendering(cb_);
  if (!target_->isSwapchainImage())
    target_->recordLayout(cb_, 0, 1, VK_IMAGE_LAYOUT_COLOR_ATTACHMENT_OPTIMAL, target_->restingLayout());
  if (labelled_) owner_.core().endLabel(cb_);
  owner_.encoderEnded();
}

}  // namespace quorvel
