#include "gpu/vulkan/VulkanOffscreenSurface.h"

#include "gpu/vulkan/VulkanDevice.h"
#include "gpu/vulkan/VulkanDrawable.h"

namespace quorvel {

VulkanOffscreenSurface::VulkanOffscreenSurface(std::shared_ptr<VulkanDevice> device, std::string label)
    : core_(device->core()), label_(std::move(label)) {}

Size VulkanOffscreenSurface::bounds() const {
  std::lock_guard lock(mutex_);
  return bounds_;
}

void VulkanOffscreenSurface::setBounds(Size bounds) {
  std::lock_guard lock(mutex_);
  bounds_ = bounds;
}

double VulkanOffscreenSurface::contentsScale() const {
  std::lock_guard lock(mutex_);
  return scale_;
}

void VulkanOffscreenSurface::setContentsScale(double scale) {
  std::lock_guard lock(mutex_);
  scale_ = scale;
}

uint32_t VulkanOffscreenSurface::drawableWidth() const {
  std::lock_guard lock(mutex_);
  return width_;
}

uint32_t VulkanOffscreenSurface::drawableHeight() const {
  std::lock_guard lock(mutex_);
  return height_;
}

void VulkanOffscreenSurface::setDrawableSize(uint32_t width, uint32_t height) {
  std::lock_guard lock(mutex_);
  width_ = width;
  height_ = height;
}

std::shared_ptr<GpuDrawable> VulkanOffscreenSurface::nextDrawable() {
  std::shared_ptr<VulkanTexture> texture;
  {
    std::lock_guard lock(mutex_);
    if (width_ == 0 || height_ == 0) return nullptr;
    if (!ring_.empty() && (ring_[0]->width() != width_ || ring_[0]->height() != height_)) ring_.clear();
    if (ring_.size() < 3) {
      GpuTextureDescriptor d;
      d.width = width_;
      d.height = height_;
      d.renderTarget = true;
      d.label = label_ + " drawable " + std::to_string(ring_.size());
      auto made = VulkanTexture::make(core_, d);
      if (!made) return nullptr;
      ring_.push_back(made);
      next_ = ring_.size() - 1;
    }
    texture = ring_[next_ % ring_.size()];
    next_ = (next_ + 1) % 3;
  }
  std::weak_ptr<VulkanOffscreenSurface> weak = weak_from_this();
  auto onPresented = [weak, texture](VkResult) {
    if (auto self = weak.lock()) {
      std::lock_guard lock(self->mutex_);
      self->last_ = texture;
      ++self->presented_;
    }
  };
  return std::make_shared<VulkanDrawable>(texture, VulkanDrawable::Swapchain{}, onPresented, nullptr);
}

GpuPixels VulkanOffscreenSurface::readLastFrame() {
  std::shared_ptr<VulkanTexture> last;
  {
    std::lock_guard lock(mutex_);
    last = last_;
  }
  if (!last) return {};
  return last->read(0);
}

uint64_t VulkanOffscreenSurface::presentedCount() const {
  std::lock_guard lock(mutex_);
  return presented_;
}

}  // namespace quorvel
