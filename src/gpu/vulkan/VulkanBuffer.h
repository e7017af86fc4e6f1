#pragma once

#include <vulkan/vulkan.h>

#include <memory>

#include "gpu/GpuResources.h"
#include "gpu/vulkan/VulkanCore.h"

namespace quorvel {

// A buffer in host-visible, coherent memory, mapped for its whole life. Usable as a vertex buffer,
// a storage buffer and a transfer source or destination.
class VulkanBuffer final : public GpuBuffer {
 public:
  static std::shared_ptr<VulkanBuffer> make(std::shared_ptr<VulkanCore> core, size_t length, const std::string& label);
  ~VulkanBuffer() override;

  void* contents() override { return mapped_; }
  size_t length() const override { return length_; }
  VkBuffer buffer() const { return buffer_; }

 private:
  VulkanBuffer(std::shared_ptr<VulkanCore> core, const std::string& label) : GpuBuffer(label), core_(std::move(core)) {}

  std::shared_ptr<VulkanCore> core_;
  VkBuffer buffer_ = VK_NULL_HANDLE;
  VkDeviceMemory memory_ = VK_NULL_HANDLE;
  void* mapped_ = nullptr;
  size_t length_ = 0;
};

}  // namespace quorvel
