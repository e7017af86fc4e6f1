#pragma once

#include <vulkan/vulkan.h>

#include <functional>
#include <memory>
#include <optional>

#include "gpu/GpuSurface.h"
#include "gpu/vulkan/VulkanBuffer.h"
#include "gpu/vulkan/VulkanTexture.h"

namespace quorvel {

// A drawable of a Vulkan surface: an offscreen texture, or an acquired swapchain image with the
// semaphore its acquisition signals and the one its presentation waits for. The surface's hooks
// run when the command buffer that presents it has been submitted (with the present's result)
// and when the drawable is released (told whether it was presented).
//
// An offscreen texture may also be copied out: the presenting command buffer then copies the frame
// (cleared to transparent when it drew nothing into it) into a host-visible buffer, and `onCopied`
// runs on the device's completion thread once the GPU has finished, before the command buffer's
// own handlers see it complete. A surface that shows frames itself puts them on screen from there.
class VulkanDrawable final : public GpuDrawable {
 public:
  struct Swapchain {
    VkSwapchainKHR swapchain = VK_NULL_HANDLE;
    uint32_t imageIndex = 0;
    VkSemaphore acquired = VK_NULL_HANDLE;  // waited on by the presenting submission
    VkSemaphore ready = VK_NULL_HANDLE;     // signalled by it, waited on by the present
  };
  // What becomes of the frame once drawn: copied into `buffer`, or, without one, left where it was
  // drawn for the host to read (a texture on host memory). `onCopied` runs once the GPU is done,
  // with the drawable's damage: where one was set on a drawn frame, only that rectangle of the
  // buffer was copied (the rest holds whatever it held).
  struct CopyOut {
    std::shared_ptr<VulkanBuffer> buffer;  // at least width × height × 4 bytes; rows tightly packed
    std::function<void(const std::optional<GpuRegion>& damage)> onCopied;
  };

  VulkanDrawable(std::shared_ptr<VulkanTexture> texture, Swapchain swapchain,
                 std::function<void(VkResult)> onPresented, std::function<void(bool)> onReleased,
                 CopyOut copyOut = {})
      : texture_(std::move(texture)),
        swapchain_(swapchain),
        onPresented_(std::move(onPresented)),
        onReleased_(std::move(onReleased)),
        copyOut_(std::move(copyOut)) {}
  ~VulkanDrawable() override {
    if (onReleased_) onReleased_(presented_);
  }
  VulkanDrawable(const VulkanDrawable&) = delete;
  VulkanDrawable& operator=(const VulkanDrawable&) = delete;

  const std::shared_ptr<GpuTexture>& texture() const override { return gpuTexture_; }
  // Offscreen textures and the images a surface uploads are its own and keep their pixels; a
  // swapchain image's are the presentation engine's.
  bool keepsContents() const override { return !isSwapchainImage(); }
  void setDamage(std::optional<GpuRegion> region) override { damage_ = region; }
  const std::optional<GpuRegion>& damage() const { return damage_; }
  const std::shared_ptr<VulkanTexture>& vulkanTexture() const { return texture_; }
  const Swapchain& swapchain() const { return swapchain_; }
  bool isSwapchainImage() const { return swapchain_.swapchain != VK_NULL_HANDLE; }
  const CopyOut& copyOut() const { return copyOut_; }
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
  CopyOut copyOut_;
  std::optional<GpuRegion> damage_;
  bool presented_ = false;
};

}  // namespace quorvel
