#pragma once

#include <vulkan/vulkan.h>

#include <memory>
#include <string>
#include <vector>

#include "gpu/GpuCommandBuffer.h"
#include "gpu/vulkan/VulkanCore.h"
#include "gpu/vulkan/VulkanDevice.h"

namespace quorvel {

class VulkanTexture;

// A command buffer being recorded (see GpuCommandBuffer). Every encoder starts after a barrier
// that orders it behind all earlier work of the queue, so work committed earlier from any thread
// is complete and visible to it. Not for use by two threads at once.
class VulkanCommandBuffer final : public GpuCommandBuffer {
 public:
  VulkanCommandBuffer(std::shared_ptr<VulkanDevice> device, VulkanCore::CommandSlot slot);
  // A command buffer dropped without commit gives its recording back unused.
  ~VulkanCommandBuffer() override;

  void setLabel(const std::string& label) override { label_ = label; }
  const std::string& label() const override { return label_; }
  std::unique_ptr<GpuRenderEncoder> makeRenderEncoder(const GpuRenderPass& pass) override;
  std::unique_ptr<GpuBlitEncoder> makeBlitEncoder() override;
  void addCompletedHandler(std::function<void()> handler) override;
  void present(const std::shared_ptr<GpuDrawable>& drawable) override;
  void commit() override;
  void waitUntilCompleted() override;
  GpuCommandStatus status() const override;

  // For the encoders.
  VkCommandBuffer commandBuffer() const { return slot_.buffer; }
  VulkanCore& core() const { return *core_; }
  const std::shared_ptr<VulkanCore>& coreRef() const { return core_; }
  void retain(std::shared_ptr<const void> resource) { keepAlive_.push_back(std::move(resource)); }
  void encoderEnded() { encoderOpen_ = false; }
  // A target this command buffer has drawn into (a swapchain image is now laid out for drawing).
  void markDrawn(const VulkanTexture* texture) { drawn_.push_back(texture); }
  bool wasDrawn(const VulkanTexture* texture) const;

 private:
  // Copies a drawn (or cleared) offscreen drawable into its copy-out buffer.
  // Makes a drawn texture on host memory readable by the host once the work completes.
  void recordHostRead(const VulkanDrawable& drawable);
  void recordCopyOut(const VulkanDrawable& drawable);

  std::shared_ptr<VulkanDevice> device_;
  std::shared_ptr<VulkanCore> core_;
  VulkanCore::CommandSlot slot_;
  std::string label_;
  bool encoderOpen_ = false;
  bool committed_ = false;
  std::vector<std::shared_ptr<const void>> keepAlive_;
  std::vector<std::function<void()>> handlers_;
  std::vector<std::shared_ptr<VulkanDrawable>> drawables_;
  std::vector<const VulkanTexture*> drawn_;
  std::shared_ptr<VulkanCompletion> completion_ = std::make_shared<VulkanCompletion>();
};

}  // namespace quorvel
