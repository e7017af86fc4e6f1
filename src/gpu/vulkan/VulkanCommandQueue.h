#pragma once

#include <memory>
#include <string>

#include "gpu/GpuCommandBuffer.h"

namespace quorvel {

class VulkanDevice;

// A labelled view of the device's one queue: its command buffers run in commit order with every
// other queue's.
class VulkanCommandQueue final : public GpuCommandQueue {
 public:
  VulkanCommandQueue(std::shared_ptr<VulkanDevice> device, std::string label)
      : device_(std::move(device)), label_(std::move(label)) {}
  const std::string& label() const override { return label_; }
  std::shared_ptr<GpuCommandBuffer> makeCommandBuffer() override;

 private:
  std::shared_ptr<VulkanDevice> device_;
  std::string label_;
};

}  // namespace quorvel
