#pragma once

#include <vulkan/vulkan.h>

#include <memory>

#include "gpu/GpuResources.h"
#include "gpu/vulkan/VulkanCore.h"

namespace quorvel {

// A linear, mip-linear, clamp-to-edge sampler with the asked anisotropy (capped by the device).
class VulkanSampler final : public GpuSampler {
 public:
  static std::shared_ptr<VulkanSampler> make(std::shared_ptr<VulkanCore> core, const GpuSamplerDescriptor& descriptor);
  ~VulkanSampler() override;
  float maxAnisotropy() const override { return anisotropy_; }
  VkSampler sampler() const { return sampler_; }

 private:
  VulkanSampler(std::shared_ptr<VulkanCore> core, const std::string& label) : GpuSampler(label), core_(std::move(core)) {}
  std::shared_ptr<VulkanCore> core_;
  VkSampler sampler_ = VK_NULL_HANDLE;
  float anisotropy_ = 1;
};

}  // namespace quorvel
