#pragma once

#include <vulkan/vulkan.h>

#include <algorithm>
#include <memory>
#include <optional>

#include "gpu/GpuResources.h"
#include "gpu/vulkan/VulkanCore.h"

namespace quorvel {

// A BGRA8 image with its view. Between commands every level of an image the program makes rests in
// the shader-read layout; each command moves the levels it touches into its own layout and back,
// with full barriers, so no layout needs tracking across threads. A swapchain's images are borrowed
// (not owned) and are laid out by the command buffer that draws into and presents them.
class VulkanTexture final : public GpuTexture {
 public:
  // A new image with its memory and view, cleared and laid out by work submitted on the queue
  // (not waited for: everything submitted later comes after it). None on failure.
  static std::shared_ptr<VulkanTexture> make(std::shared_ptr<VulkanCore> core, const GpuTextureDescriptor& descriptor);
  // A render target (one level) whose pixels live in host memory of the caller's, such as a shared
  // memory segment: rows of rowPitch() bytes from the start of `memory`, which the host may read
  // once the work that drew them has completed. `owner` keeps the memory and is let go only after
  // the image. It rests in the general layout. None, with the reason in `error`, where the device
  // cannot draw into imported host memory or the memory does not fit (see hostLayout).
  static std::shared_ptr<VulkanTexture> makeOnHostMemory(std::shared_ptr<VulkanCore> core, uint32_t width,
                                                         uint32_t height, void* memory, size_t memorySize,
                                                         std::shared_ptr<const void> owner, const std::string& label,
                                                         std::string* error = nullptr);
  // The memory such a texture needs (size, bytes from one row to the next); none where the device
  // cannot draw into imported host memory.
  struct HostLayout {
    size_t size = 0;
    size_t rowPitch = 0;
  };
  static std::optional<HostLayout> hostLayout(const VulkanCore& core, uint32_t width, uint32_t height);
  // Wraps a swapchain image (borrowed; its view is owned).
  static std::shared_ptr<VulkanTexture> wrapSwapchainImage(std::shared_ptr<VulkanCore> core, VkImage image,
                                                           uint32_t width, uint32_t height, const std::string& label);
  ~VulkanTexture() override;

  uint32_t width() const override { return width_; }
  uint32_t height() const override { return height_; }
  uint32_t mipLevelCount() const override { return levels_; }
  GpuPixelFormat format() const override { return format_; }
  bool replaceLevel(uint32_t level, const void* bytes, size_t bytesPerRow) override;
  bool replaceRegions(uint32_t level, const std::vector<GpuRegion>& regions, const void* bytes,
                      size_t bytesPerRow) override;

  VkImage image() const { return image_; }
  VkImageView view() const { return view_; }
  bool isSwapchainImage() const { return borrowed_; }
  uint32_t levelWidth(uint32_t level) const { return std::max(width_ >> level, 1u); }
  uint32_t levelHeight(uint32_t level) const { return std::max(height_ >> level, 1u); }

  static constexpr VkImageLayout kResting = VK_IMAGE_LAYOUT_SHADER_READ_ONLY_OPTIMAL;
  // The layout the image is in between pieces of work: kResting, or the general layout for one on
  // host memory (whose pixels the host reads).
  VkImageLayout restingLayout() const { return resting_; }
  bool isOnHostMemory() const { return owner_ != nullptr; }
  size_t rowPitch() const { return rowPitch_; }  // on host memory only
  // Records a layout change of `count` levels from `base`, ordered after all earlier work and
  // before all later work.
  void recordLayout(VkCommandBuffer commandBuffer, uint32_t base, uint32_t count, VkImageLayout from,
                    VkImageLayout to) const;

  // Reads a level back after everything submitted so far (images the program made only).
  GpuPixels read(uint32_t level) const;

  // Records a copy of a whole level from `staging` (tightly packed rows, already filled).
  void recordUpload(VkCommandBuffer commandBuffer, VkBuffer staging, uint32_t level) const;

 private:
  VulkanTexture(std::shared_ptr<VulkanCore> core, const std::string& label) : GpuTexture(label), core_(std::move(core)) {}

  std::shared_ptr<VulkanCore> core_;
  VkImage image_ = VK_NULL_HANDLE;
  VkDeviceMemory memory_ = VK_NULL_HANDLE;
  VkImageView view_ = VK_NULL_HANDLE;
  uint32_t width_ = 0, height_ = 0, levels_ = 1;
  GpuPixelFormat format_ = GpuPixelFormat::bgra8Unorm;
  bool borrowed_ = false;
  VkImageLayout resting_ = kResting;
  size_t rowPitch_ = 0;
  std::shared_ptr<const void> owner_;  // the host memory's keeper; let go after the memory is freed
  // The timeline value of the work that made the image ready (cleared, laid out).
  uint64_t readyValue_ = 0;
};

}  // namespace quorvel
