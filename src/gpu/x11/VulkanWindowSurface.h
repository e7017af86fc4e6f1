#pragma once

#include <vulkan/vulkan.h>
#include <xcb/xcb.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "gpu/GpuSurface.h"
#include "gpu/vulkan/VulkanDevice.h"
#include "gpu/vulkan/VulkanTexture.h"

namespace quorvel {

// An X11 window as a surface: a Vulkan swapchain of BGRA8 images on the window (which should have a
// 32-bit ARGB visual), composited with premultiplied alpha where the window system offers it. The
// swapchain is made on the first drawable and made again by the render thread, at its next
// drawable, when the drawable size changes or the window system reports the swapchain out of date.
//
// nextDrawable() belongs to one thread (the render thread); the sizes may be set from any thread.
// The connection and the window stay the caller's and must outlive the surface.
class VulkanWindowSurface final : public GpuSurface, public std::enable_shared_from_this<VulkanWindowSurface> {
 public:
  static std::shared_ptr<VulkanWindowSurface> make(std::shared_ptr<VulkanDevice> device,
                                                   xcb_connection_t* connection, xcb_window_t window,
                                                   const std::string& label, std::string* error = nullptr);
  ~VulkanWindowSurface() override;

  Size bounds() const override;
  void setBounds(Size bounds) override;
  double contentsScale() const override;
  void setContentsScale(double scale) override;
  uint32_t drawableWidth() const override;
  uint32_t drawableHeight() const override;
  void setDrawableSize(uint32_t width, uint32_t height) override;
  std::shared_ptr<GpuDrawable> nextDrawable() override;

  // How the window system composites the images (for tests and the log).
  VkCompositeAlphaFlagBitsKHR compositeAlpha() const { return compositeAlpha_; }
  // How many swapchains have been made so far.
  uint64_t swapchainGeneration() const { return generation_.load(); }

 private:
  VulkanWindowSurface(std::shared_ptr<VulkanDevice> device, std::string label)
      : device_(std::move(device)), core_(device_->core()), label_(std::move(label)) {}
  bool rebuild(uint32_t width, uint32_t height);
  void destroySwapchain();

  std::shared_ptr<VulkanDevice> device_;
  std::shared_ptr<VulkanCore> core_;
  const std::string label_;
  VkSurfaceKHR surface_ = VK_NULL_HANDLE;

  mutable std::mutex sizeMutex_;
  Size bounds_{};
  double scale_ = 1;
  uint32_t width_ = 0, height_ = 0;

  // Render thread only.
  VkSwapchainKHR swapchain_ = VK_NULL_HANDLE;
  VkExtent2D extent_{0, 0};
  std::vector<std::shared_ptr<VulkanTexture>> images_;
  std::vector<VkSemaphore> ready_;
  VkCompositeAlphaFlagBitsKHR compositeAlpha_ = VK_COMPOSITE_ALPHA_OPAQUE_BIT_KHR;
  std::atomic<bool> outOfDate_{false};
  std::atomic<uint64_t> generation_{0};
};

}  // namespace quorvel
