#pragma once

#include <vulkan/vulkan.h>

#include <functional>
#include <memory>

#include "gpu/GpuSurface.h"
#include "gpu/vulkan/VulkanTexture.h"

namespace quorvel {

// A drawable of a Vulkan surface: an offscreen texture, or an acquired swapchain image with the
// semaphore its acquisition signals and the one its presentation waits for. The surface's hooks
// run when the command buffer that presents it has been submitted (with the present's result)
// and when the drawable is released (told whether it was presented).
class VulkanDrawable final : public GpuDrawable {
 public:
  struct Swapchain {
    VkSwapchainKHR swapchain = VK_NULL_HANDLE;
    uint32_t imageIndex = 0;
    VkSemaphore acquired = VK_NULL_HANDLE;  // waited on by the presenting submission
    VkSemaphore ready = VK_NULL_HANDLE;     // signalled by it, waited on by the present
  };

  VulkanDrawable(std::shared_ptr<VulkanTexture> texture, Swapchain swapchain,
                 std::function<void(VkResult)> onPresented, std::function<void(bool)> onReleased)
      : texture_(std::move(texture)),
        swapchain_(swapchain),
        onPresented_(std::move(onPresented)),
        onReleased_(std::move(onReleased)) {}
  ~VulkanDrawable() override {
    if (onReleased_) onReleased_(presented_);
  }
  VulkanDrawable(const VulkanDrawable&) = delete;
  VulkanDrawable& operator=(const VulkanDrawable&) = delete;

  const std::shared_ptr<GpuTexture>& texture() const override { return gpuTexture_; }
  const std::shared_ptr<VulkanTexture>& vulkanTexture() const { return texture_; }
  const Swapchain& swapchain() const { return swapchain_; }
  bool isSwapchainImage() const { return swapchain_.swapchain != VK_NULL_HANDLE; }
  void presented(VkResult result) {
    presented_ = true;
    if (onPresented_) onPresented_(result);
  }

 private:
  std::shared_ptr<VulkanTexture> texture_;
  std::shared_ptr<GpuTexture> gpuTexture_ = texture_;
  Swapchain swapchain_;
  std::function<void(VkResult)> onPresented_;
  std::function<void(bool)> onReleased_;
  bool presented_ = false;
};

}  // namespace quorvel
