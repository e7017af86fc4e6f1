#include "gpu/vulkan/VulkanCommandQueue.h"

#include "gpu/vulkan/VulkanCommandBuffer.h"
#include "gpu/vulkan/VulkanDevice.h"

namespace quorvel {

std::shared_ptr<GpuCommandBuffer> VulkanCommandQueue::makeCommandBuffer() {
  auto slot = device_->core()->takeCommandSlot();
  if (!slot) return nullptr;
  return std::make_shared<VulkanCommandBuffer>(device_, *slot);
}

}  // namespace quorvel
