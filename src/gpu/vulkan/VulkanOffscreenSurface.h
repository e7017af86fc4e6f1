#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "gpu/GpuSurface.h"
#include "gpu/vulkan/VulkanTexture.h"

namespace quorvel {

class VulkanDevice;

// A windowless surface: drawables are textures of the drawable size taken in turn from a ring of
// three, made again when the size changes.
class VulkanOffscreenSurface final : public GpuOffscreenSurface,
                                     public std::enable_shared_from_this<VulkanOffscreenSurface> {
 public:
  VulkanOffscreenSurface(std::shared_ptr<VulkanDevice> device, std::string label);

  Size bounds() const override;
  void setBounds(Size bounds) override;
  double contentsScale() const override;
  void setContentsScale(double scale) override;
  uint32_t drawableWidth() const override;
  uint32_t drawableHeight() const override;
  void setDrawableSize(uint32_t width, uint32_t height) override;
  std::shared_ptr<GpuDrawable> nextDrawable() override;
  GpuPixels readLastFrame() override;
  uint64_t presentedCount() const override;

 private:
  std::shared_ptr<VulkanCore> core_;
  const std::string label_;
  mutable std::mutex mutex_;
  Size bounds_{};
  double scale_ = 1;
  uint32_t width_ = 0, height_ = 0;
  std::vector<std::shared_ptr<VulkanTexture>> ring_;
  size_t next_ = 0;
  std::shared_ptr<VulkanTexture> last_;
  uint64_t presented_ = 0;
};

}  // namespace quorvel
