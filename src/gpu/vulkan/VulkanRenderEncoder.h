#pragma once

#include <vulkan/vulkan.h>

#include <memory>

#include "gpu/GpuRenderEncoder.h"

namespace quorvel {

class VulkanCommandBuffer;
class VulkanTexture;
class VulkanBuffer;
class VulkanSampler;
class VulkanRenderPipeline;

// A render pass into one BGRA8 texture with dynamic rendering. Bindings are pushed as push
// descriptors and push constants just before the draw that first needs them; a draw that lacks its
// pipeline, records, texture or sampler is left out.
class VulkanRenderEncoder final : public GpuRenderEncoder {
 public:
  // None when the target is not a drawable texture of this device.
  static std::unique_ptr<VulkanRenderEncoder> begin(VulkanCommandBuffer& owner, const GpuRenderPass& pass);
  ~VulkanRenderEncoder() override;

  void setLabel(const std::string& label) override;
  void setPipeline(const std::shared_ptr<GpuRenderPipeline>& pipeline) override;
  void setVertexBuffer(const std::shared_ptr<GpuBuffer>& buffer, size_t offset, uint32_t index) override;
  void setVertexBytes(const void* bytes, size_t length, uint32_t index) override;
  void setFragmentTexture(const std::shared_ptr<GpuTexture>& texture, uint32_t index) override;
  void setFragmentSampler(const std::shared_ptr<GpuSampler>& sampler, uint32_t index) override;
  void setFragmentBytes(const void* bytes, size_t length, uint32_t index) override;
  void setScissor(std::optional<GpuRegion> region) override;
  void drawTriangleStrip(uint32_t vertexStart, uint32_t vertexCount) override;
  void endEncoding() override;

 private:
  explicit VulkanRenderEncoder(VulkanCommandBuffer& owner) : owner_(owner) {}
  void pushConstants(uint32_t offset, const void* bytes, size_t length, size_t room);

  VulkanCommandBuffer& owner_;
  VkCommandBuffer cb_ = VK_NULL_HANDLE;
  const VulkanTexture* target_ = nullptr;
  VkRect2D area_{};  // the pass's render area
  bool labelled_ = false;
  bool ended_ = false;
  const VulkanRenderPipeline* pipeline_ = nullptr;
  const VulkanBuffer* vertices_ = nullptr;
  const VulkanBuffer* records_ = nullptr;
  size_t recordsOffset_ = 0;
  const VulkanTexture* texture_ = nullptr;
  const VulkanSampler* sampler_ = nullptr;
  bool recordsDirty_ = false, textureDirty_ = false, samplerDirty_ = false;
};

}  // namespace quorvel
