#include "gpu/vulkan/VulkanShaderLibrary.h"

namespace quorvel {

std::shared_ptr<GpuShaderFunction> VulkanShaderLibrary::makeFunction(std::string_view name) {
  std::span<const uint32_t> code = GpuShaderLibrary::builtInCode(name);
  if (code.empty()) return nullptr;
  VkShaderModuleCreateInfo info{VK_STRUCTURE_TYPE_SHADER_MODULE_CREATE_INFO};
  info.codeSize = code.size_bytes();
  info.pCode = code.data();
  VkShaderModule module = VK_NULL_HANDLE;
  if (vkCreateShaderModule(core_->device(), &info, nullptr, &module) != VK_SUCCESS) return nullptr;
  const std::string label(name);
  core_->setName(VK_OBJECT_TYPE_SHADER_MODULE, reinterpret_cast<uint64_t>(module), label);
  return std::make_shared<Function>(core_, module, label);
}

}  // namespace quorvel
