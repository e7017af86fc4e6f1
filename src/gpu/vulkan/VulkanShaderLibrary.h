#pragma once

#include <vulkan/vulkan.h>

#include <memory>

#include "gpu/GpuShaderLibrary.h"
#include "gpu/vulkan/VulkanCore.h"

namespace quorvel {

// The built-in shaders as Vulkan shader modules (entry point "main").
class VulkanShaderLibrary final : public GpuShaderLibrary {
 public:
  class Function final : public GpuShaderFunction {
   public:
    Function(std::shared_ptr<VulkanCore> core, VkShaderModule module, const std::string& name)
        : GpuShaderFunction(name), core_(std::move(core)), module_(module) {}
    ~Function() override { vkDestroyShaderModule(core_->device(), module_, nullptr); }
    VkShaderModule module() const { return module_; }

   private:
    std::shared_ptr<VulkanCore> core_;
    VkShaderModule module_;
  };

  explicit VulkanShaderLibrary(std::shared_ptr<VulkanCore> core) : core_(std::move(core)) {}
  std::shared_ptr<GpuShaderFunction> makeFunction(std::string_view name) override;

 private:
  std::shared_ptr<VulkanCore> core_;
};

}  // namespace quorvel
