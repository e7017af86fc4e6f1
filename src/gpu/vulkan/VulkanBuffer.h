#pragma once

#include <vulkan/vulkan.h>

#include <memory>

#include "gpu/GpuResources.h"
#include "gpu/vulkan/VulkanCore.h"

namespace quorvel {

// A buffer in host-visible, coherent memory, mapped for its whole life. Usable as a vertex buffer,
// a storage buffer and a transfer source or destination.
//
// An imported buffer lives in host memory that someone else allocated (a shared-memory segment):
// the GPU reads and writes that memory itself, and contents() is its address. It is a transfer
// source or destination only. The memory must stay mapped until the buffer has gone, which
// `owner` (released after the device memory is freed) sees to.
class VulkanBuffer final : public GpuBuffer {
 public:
  static std::shared_ptr<VulkanBuffer> make(std::shared_ptr<VulkanCore> core, size_t length, const std::string& label);
  // A buffer of `length` bytes over the host memory at `memory` (`memorySize` bytes, both multiples
  // of the device's import alignment). None with the reason in `error` when the device has no
  // host-memory import or refuses this memory.
  static std::shared_ptr<VulkanBuffer> importHostMemory(std::shared_ptr<VulkanCore> core, void* memory,
                                                        size_t memorySize, size_t length, const std::string& label,
                                                        std::shared_ptr<const void> owner,
                                                        std::string* error = nullptr);
  ~VulkanBuffer() override;

  void* contents() override { return mapped_; }
  size_t length() const override { return length_; }
  VkBuffer buffer() const { return buffer_; }
  bool isImported() const { return owner_ != nullptr; }

 private:
  VulkanBuffer(std::shared_ptr<VulkanCore> core, const std::string& label) : GpuBuffer(label), core_(std::move(core)) {}

  std::shared_ptr<VulkanCore> core_;
  VkBuffer buffer_ = VK_NULL_HANDLE;
  VkDeviceMemory memory_ = VK_NULL_HANDLE;
  void* mapped_ = nullptr;
  size_t length_ = 0;
  std::shared_ptr<const void> owner_;  // of imported memory
};

}  // namespace quorvel
