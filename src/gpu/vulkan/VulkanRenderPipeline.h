#pragma once

#include <vulkan/vulkan.h>

#include <memory>

#include "gpu/GpuDevice.h"
#include "gpu/vulkan/VulkanCore.h"

namespace quorvel {

// The graphics pipeline of the program: triangle strips of 16-byte quad vertices, dynamic viewport
// and scissor, no culling, no depth, one BGRA8 target drawn with dynamic rendering.
class VulkanRenderPipeline final : public GpuRenderPipeline {
 public:
  static std::shared_ptr<VulkanRenderPipeline> make(std::shared_ptr<VulkanCore> core,
                                                    const GpuRenderPipelineDescriptor& descriptor);
  ~VulkanRenderPipeline() override;
  VkPipeline pipeline() const { return pipeline_; }

 private:
  VulkanRenderPipeline(std::shared_ptr<VulkanCore> core, const std::string& label)
      : GpuRenderPipeline(label), core_(std::move(core)) {}
  std::shared_ptr<VulkanCore> core_;
  VkPipeline pipeline_ = VK_NULL_HANDLE;
};

}  // namespace quorvel
