#include "gpu/vulkan/VulkanSampler.h"

#include <algorithm>

namespace quorvel {

std::shared_ptr<VulkanSampler> VulkanSampler::make(std::shared_ptr<VulkanCore> core, const GpuSamplerDescriptor& d) {
  std::shared_ptr<VulkanSampler> s(new VulkanSampler(core, d.label));
  s->anisotropy_ = std::clamp(d.maxAnisotropy, 1.0f, std::max(core->maxAnisotropy(), 1.0f));
  VkSamplerCreateInfo info{VK_STRUCTURE_TYPE_SAMPLER_CREATE_INFO};
  info.magFilter = VK_FILTER_LINEAR;
  info.minFilter = VK_FILTER_LINEAR;
  info.mipmapMode = d.levelZeroOnly ? VK_SAMPLER_MIPMAP_MODE_NEAREST : VK_SAMPLER_MIPMAP_MODE_LINEAR;
  info.addressModeU = VK_SAMPLER_ADDRESS_MODE_CLAMP_TO_EDGE;
  info.addressModeV = VK_SAMPLER_ADDRESS_MODE_CLAMP_TO_EDGE;
  info.addressModeW = VK_SAMPLER_ADDRESS_MODE_CLAMP_TO_EDGE;
  info.anisotropyEnable = s->anisotropy_ > 1 ? VK_TRUE : VK_FALSE;
  info.maxAnisotropy = s->anisotropy_;
  info.minLod = 0;
  info.maxLod = d.levelZeroOnly ? 0.0f : VK_LOD_CLAMP_NONE;
  if (vkCreateSampler(core->device(), &info, nullptr, &s->sampler_) != VK_SUCCESS) return nullptr;
  core->setName(VK_OBJECT_TYPE_SAMPLER, reinterpret_cast<uint64_t>(s->sampler_), d.label);
  return s;
}

VulkanSampler::~VulkanSampler() {
  if (sampler_) vkDestroySampler(core_->device(), sampler_, nullptr);
}

}  // namespace quorvel
