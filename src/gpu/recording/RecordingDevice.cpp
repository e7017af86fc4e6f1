#include "gpu/recording/RecordingDevice.h"

#include <algorithm>
#include <cstring>

namespace quorvel {
namespace {

class RecordingTexture final : public GpuTexture {
 public:
  explicit RecordingTexture(const GpuTextureDescriptor& d)
      : GpuTexture(d.label), width_(d.width), height_(d.height), levels_(d.mipLevels), format_(d.format) {}
  uint32_t width() const override { return width_; }
  uint32_t height() const override { return height_; }
  uint32_t mipLevelCount() const override { return levels_; }
  GpuPixelFormat format() const override { return format_; }
  bool replaceLevel(uint32_t level, const void*, size_t) override { return level < levels_; }
  // Checks what the Vulkan texture checks, so the callers' refusals show here too.
  bool replaceRegions(uint32_t level, const std::vector<GpuRegion>& regions, const void* bytes,
                      size_t bytesPerRow) override {
    if (level >= levels_) return false;
    if (regions.empty()) return true;
    const uint32_t w = std::max(width_ >> level, 1u), h = std::max(height_ >> level, 1u);
    if (!bytes || bytesPerRow < static_cast<size_t>(w) * bytesPerPixel(format_)) return false;
    for (const GpuRegion& r : regions)
      if (r.width == 0 || r.height == 0 || r.x > w || r.width > w - r.x || r.y > h || r.height > h - r.y) return false;
    return true;
  }

 private:
  uint32_t width_, height_, levels_;
  GpuPixelFormat format_;
};

class RecordingBuffer final : public GpuBuffer {
 public:
  RecordingBuffer(size_t length, std::string label) : GpuBuffer(std::move(label)), bytes_(std::max<size_t>(length, 1)) {}
  void* contents() override { return bytes_.data(); }
  size_t length() const override { return bytes_.size(); }

 private:
  std::vector<unsigned char> bytes_;
};

class RecordingSampler final : public GpuSampler {
 public:
  explicit RecordingSampler(const GpuSamplerDescriptor& d) : GpuSampler(d.label), anisotropy_(d.maxAnisotropy) {}
  float maxAnisotropy() const override { return anisotropy_; }

 private:
  float anisotropy_;
};

class RecordingFunction final : public GpuShaderFunction {
 public:
  explicit RecordingFunction(std::string name) : GpuShaderFunction(std::move(name)) {}
};

class RecordingPipeline final : public GpuRenderPipeline {
 public:
  explicit RecordingPipeline(std::string label) : GpuRenderPipeline(std::move(label)) {}
};

class RecordingLibrary final : public GpuShaderLibrary {
 public:
  explicit RecordingLibrary(std::string missing) : missing_(std::move(missing)) {}
  std::shared_ptr<GpuShaderFunction> makeFunction(std::string_view name) override {
    if (name == missing_ || GpuShaderLibrary::builtInCode(name).empty()) return nullptr;
    return std::make_shared<RecordingFunction>(std::string(name));
  }

 private:
  std::string missing_;
};

class RecordingDrawable final : public GpuDrawable {
 public:
  explicit RecordingDrawable(std::shared_ptr<GpuTexture> texture) : texture_(std::move(texture)) {}
  const std::shared_ptr<GpuTexture>& texture() const override { return texture_; }

 private:
  std::shared_ptr<GpuTexture> texture_;
};

class RecordingSurface final : public GpuOffscreenSurface {
 public:
  explicit RecordingSurface(std::string label) : label_(std::move(label)) {}
  Size bounds() const override {
    std::lock_guard lock(mutex_);
    return bounds_;
  }
  void setBounds(Size bounds) override {
    std::lock_guard lock(mutex_);
    bounds_ = bounds;
  }
  double contentsScale() const override {
    std::lock_guard lock(mutex_);
    return scale_;
  }
  void setContentsScale(double scale) override {
    std::lock_guard lock(mutex_);
    scale_ = scale;
  }
  uint32_t drawableWidth() const override {
    std::lock_guard lock(mutex_);
    return width_;
  }
  uint32_t drawableHeight() const override {
    std::lock_guard lock(mutex_);
    return height_;
  }
  void setDrawableSize(uint32_t width, uint32_t height) override {
    std::lock_guard lock(mutex_);
    width_ = width;
    height_ = height;
  }
  std::shared_ptr<GpuDrawable> nextDrawable() override {
    std::lock_guard lock(mutex_);
    GpuTextureDescriptor d;
    d.width = width_;
    d.height = height_;
    d.renderTarget = true;
    d.label = label_ + " drawable";
    ++handedOut_;
    return std::make_shared<RecordingDrawable>(std::make_shared<RecordingTexture>(d));
  }
  GpuPixels readLastFrame() override { return {}; }
  uint64_t presentedCount() const override { return 0; }

 private:
  const std::string label_;
  mutable std::mutex mutex_;
  Size bounds_{};
  double scale_ = 1;
  uint32_t width_ = 0, height_ = 0;
  uint64_t handedOut_ = 0;
};

class RecordingCommandBuffer;

class RecordingRenderEncoder final : public GpuRenderEncoder {
 public:
  RecordingRenderEncoder(RecordedEncoder& record, bool& open, size_t stride)
      : record_(record), open_(open), stride_(stride) {}
  void setLabel(const std::string& label) override { record_.label = label; }
  void setPipeline(const std::shared_ptr<GpuRenderPipeline>& pipeline) override { current_.pipeline = pipeline; }
  void setVertexBuffer(const std::shared_ptr<GpuBuffer>& buffer, size_t offset, uint32_t index) override {
    if (index == 0) current_.vertexBuffer = buffer;
    if (index == 1) {
      current_.recordBuffer = buffer;
      current_.recordBufferOffset = offset;
    }
  }
  void setVertexBytes(const void* bytes, size_t length, uint32_t index) override {
    if (index == 2 && length >= 4) std::memcpy(&current_.recordIndex, bytes, 4);
  }
  void setFragmentTexture(const std::shared_ptr<GpuTexture>& texture, uint32_t index) override {
    if (index == 0) current_.texture = texture;
  }
  void setFragmentSampler(const std::shared_ptr<GpuSampler>& sampler, uint32_t index) override {
    if (index == 0) current_.sampler = sampler;
  }
  void setFragmentBytes(const void* bytes, size_t length, uint32_t index) override {
    if (index == 0) std::memcpy(current_.fragmentBytes0.data(), bytes, std::min<size_t>(length, 16));
    if (index == 1 && length >= 4) std::memcpy(&current_.fragmentBytes1, bytes, 4);
  }
  void setScissor(std::optional<GpuRegion> region) override { current_.scissor = region; }
  void drawTriangleStrip(uint32_t vertexStart, uint32_t vertexCount) override {
    RecordedDraw draw = current_;
    draw.vertexStart = vertexStart;
    draw.vertexCount = vertexCount;
    if (draw.recordBuffer) {
      const size_t at = draw.recordBufferOffset + static_cast<size_t>(draw.recordIndex) * stride_;
      if (at + stride_ <= draw.recordBuffer->length())
        draw.record.assign(static_cast<const char*>(draw.recordBuffer->contents()) + at, stride_);
    }
    record_.draws.push_back(std::move(draw));
  }
  void endEncoding() override {
    record_.ended = true;
    open_ = false;
  }

 private:
  RecordedEncoder& record_;
  bool& open_;
  size_t stride_;
  RecordedDraw current_;
};

class RecordingBlitEncoder final : public GpuBlitEncoder {
 public:
  RecordingBlitEncoder(RecordedEncoder& record, bool& open) : record_(record), open_(open) {}
  void setLabel(const std::string& label) override { record_.label = label; }
  bool uploadLevel(const std::shared_ptr<GpuTexture>& texture, uint32_t level, const void*, size_t) override {
    if (!texture || level >= texture->mipLevelCount()) return false;
    record_.blits.push_back({RecordedBlit::Kind::upload, nullptr, texture, 0, level});
    return true;
  }
  void blit(const std::shared_ptr<GpuTexture>& source, uint32_t sourceLevel, GpuRegion sourceRegion,
            const std::shared_ptr<GpuTexture>& destination, uint32_t destinationLevel,
            GpuRegion destinationRegion) override {
    record_.blits.push_back({RecordedBlit::Kind::blit, source, destination, sourceLevel, destinationLevel,
                             sourceRegion, destinationRegion});
  }
  bool copyLevel(const std::shared_ptr<GpuTexture>& source, uint32_t sourceLevel,
                 const std::shared_ptr<GpuTexture>& destination, uint32_t destinationLevel) override {
    if (!source || !destination || sourceLevel >= source->mipLevelCount() ||
        destinationLevel >= destination->mipLevelCount())
      return false;
    if (std::max(source->width() >> sourceLevel, 1u) != std::max(destination->width() >> destinationLevel, 1u) ||
        std::max(source->height() >> sourceLevel, 1u) != std::max(destination->height() >> destinationLevel, 1u))
      return false;
    record_.blits.push_back({RecordedBlit::Kind::copyLevel, source, destination, sourceLevel, destinationLevel});
    return true;
  }
  bool copyRegion(const std::shared_ptr<GpuTexture>& source, const std::shared_ptr<GpuTexture>& destination,
                  GpuRegion region) override {
    if (!source || !destination || source == destination || source->width() != destination->width() ||
        source->height() != destination->height() || region.width == 0 || region.height == 0 ||
        region.x + region.width > source->width() || region.y + region.height > source->height())
      return false;
    record_.blits.push_back({RecordedBlit::Kind::copyRegion, source, destination, 0, 0, region, region});
    return true;
  }
  void generateMipmaps(const std::shared_ptr<GpuTexture>& texture) override {
    record_.blits.push_back({RecordedBlit::Kind::generateMipmaps, texture, texture, 0, 0});
  }
  void endEncoding() override {
    record_.ended = true;
    open_ = false;
  }

 private:
  RecordedEncoder& record_;
  bool& open_;
};

class RecordingCommandBuffer final : public GpuCommandBuffer {
 public:
  RecordingCommandBuffer(std::shared_ptr<RecordingDevice> device, std::string queueLabel)
      : device_(std::move(device)) {
    record_.queueLabel = std::move(queueLabel);
  }
  void setLabel(const std::string& label) override { record_.label = label; }
  const std::string& label() const override { return record_.label; }
  std::unique_ptr<GpuRenderEncoder> makeRenderEncoder(const GpuRenderPass& pass) override {
    if (open_ || status_ != GpuCommandStatus::notCommitted || device_->failures().renderEncoders) return nullptr;
    RecordedEncoder& e = record_.encoders.emplace_back();
    e.kind = RecordedEncoder::Kind::render;
    e.target = pass.colorTexture;
    e.clear = pass.clear;
    e.clearColor = pass.clearColor;
    e.area = pass.area;
    open_ = true;
    // The encoders vector may grow later; each encoder writes only while it is the last one.
    return std::make_unique<RecordingRenderEncoder>(e, open_, device_->recordStride());
  }
  std::unique_ptr<GpuBlitEncoder> makeBlitEncoder() override {
    if (open_ || status_ != GpuCommandStatus::notCommitted) return nullptr;
    RecordedEncoder& e = record_.encoders.emplace_back();
    e.kind = RecordedEncoder::Kind::blit;
    open_ = true;
    return std::make_unique<RecordingBlitEncoder>(e, open_);
  }
  void addCompletedHandler(std::function<void()> handler) override { handlers_.push_back(std::move(handler)); }
  void present(const std::shared_ptr<GpuDrawable>& drawable) override {
    if (drawable) ++record_.presentedDrawables;
  }
  void commit() override {
    if (status_ != GpuCommandStatus::notCommitted) return;
    status_ = device_->failures().committedWork ? GpuCommandStatus::error : GpuCommandStatus::completed;
    record_.completedHandlers = handlers_.size();
    device_->commitRecord(record_, std::move(handlers_));
  }
  void waitUntilCompleted() override {}
  GpuCommandStatus status() const override { return status_; }

 private:
  std::shared_ptr<RecordingDevice> device_;
  RecordedCommandBuffer record_;
  std::vector<std::function<void()>> handlers_;
  bool open_ = false;
  GpuCommandStatus status_ = GpuCommandStatus::notCommitted;
};

class RecordingQueue final : public GpuCommandQueue {
 public:
  RecordingQueue(std::shared_ptr<RecordingDevice> device, std::string label)
      : device_(std::move(device)), label_(std::move(label)) {}
  const std::string& label() const override { return label_; }
  std::shared_ptr<GpuCommandBuffer> makeCommandBuffer() override {
    if (device_->failures().commandBuffers) return nullptr;
    return std::make_shared<RecordingCommandBuffer>(device_, label_);
  }

 private:
  std::shared_ptr<RecordingDevice> device_;
  std::string label_;
};

}  // namespace

std::shared_ptr<RecordingDevice> RecordingDevice::make(size_t recordStride) {
  return std::shared_ptr<RecordingDevice>(new RecordingDevice(recordStride));
}

std::shared_ptr<GpuCommandQueue> RecordingDevice::makeCommandQueue(const std::string& label) {
  return std::make_shared<RecordingQueue>(shared_from_this(), label);
}

std::shared_ptr<GpuTexture> RecordingDevice::makeTexture(const GpuTextureDescriptor& descriptor) {
  if (failures().textures || descriptor.width == 0 || descriptor.height == 0 || descriptor.mipLevels == 0 ||
      descriptor.mipLevels > GpuTextureDescriptor::fullMipCount(descriptor.width, descriptor.height))
    return nullptr;
  auto texture = std::make_shared<RecordingTexture>(descriptor);
  std::lock_guard lock(mutex_);
  std::erase_if(textures_, [](const auto& weak) { return weak.expired(); });
  textures_.push_back(texture);
  return texture;
}

std::shared_ptr<GpuBuffer> RecordingDevice::makeBuffer(size_t length, const std::string& label) {
  if (length == 0 || length > failures().largestBuffer) return nullptr;
  auto buffer = std::make_shared<RecordingBuffer>(length, label);
  std::lock_guard lock(mutex_);
  std::erase_if(buffers_, [](const auto& weak) { return weak.expired(); });
  buffers_.push_back(buffer);
  return buffer;
}

std::shared_ptr<GpuSampler> RecordingDevice::makeSampler(const GpuSamplerDescriptor& descriptor) {
  if (failures().samplers) return nullptr;
  return std::make_shared<RecordingSampler>(descriptor);
}

std::shared_ptr<GpuShaderLibrary> RecordingDevice::makeDefaultLibrary() {
  const Failures f = failures();
  if (f.library) return nullptr;
  return std::make_shared<RecordingLibrary>(f.missingFunction);
}

std::shared_ptr<GpuRenderPipeline> RecordingDevice::makeRenderPipeline(const GpuRenderPipelineDescriptor& d) {
  if (failures().pipelines || !d.vertexFunction || !d.fragmentFunction) return nullptr;
  return std::make_shared<RecordingPipeline>(d.label);
}

std::shared_ptr<GpuOffscreenSurface> RecordingDevice::makeOffscreenSurface(const std::string& label) {
  return std::make_shared<RecordingSurface>(label);
}

GpuPixels RecordingDevice::readTexture(const std::shared_ptr<GpuTexture>&, uint32_t) { return {}; }

void RecordingDevice::waitIdle() {}

void RecordingDevice::setFailures(const Failures& failures) {
  std::lock_guard lock(mutex_);
  failures_ = failures;
}

RecordingDevice::Failures RecordingDevice::failures() const {
  std::lock_guard lock(mutex_);
  return failures_;
}

void RecordingDevice::holdCompletions(bool hold) {
  std::lock_guard lock(mutex_);
  hold_ = hold;
}

size_t RecordingDevice::releaseCompletions() {
  std::vector<std::vector<std::function<void()>>> due;
  {
    std::lock_guard lock(mutex_);
    due.swap(held_);
  }
  for (auto& handlers : due)
    for (auto& h : handlers) h();
  return due.size();
}

size_t RecordingDevice::heldCompletions() const {
  std::lock_guard lock(mutex_);
  return held_.size();
}

std::vector<RecordedCommandBuffer> RecordingDevice::commandBuffers() const {
  std::lock_guard lock(mutex_);
  return log_;
}

size_t RecordingDevice::commandBufferCount() const {
  std::lock_guard lock(mutex_);
  return log_.size();
}

void RecordingDevice::clearLog() {
  std::lock_guard lock(mutex_);
  log_.clear();
}

namespace {

template <class T>
std::vector<std::shared_ptr<T>> alive(const std::vector<std::weak_ptr<T>>& made) {
  std::vector<std::shared_ptr<T>> out;
  for (const auto& weak : made)
    if (auto held = weak.lock()) out.push_back(std::move(held));
  return out;
}

}  // namespace

std::vector<std::shared_ptr<GpuBuffer>> RecordingDevice::buffers() const {
  std::lock_guard lock(mutex_);
  return alive(buffers_);
}

std::vector<std::shared_ptr<GpuTexture>> RecordingDevice::liveTextures() const {
  std::lock_guard lock(mutex_);
  return alive(textures_);
}

void RecordingDevice::commitRecord(RecordedCommandBuffer record, std::vector<std::function<void()>> handlers) {
  {
    std::lock_guard lock(mutex_);
    log_.push_back(std::move(record));
    if (hold_) {
      held_.push_back(std::move(handlers));
      return;
    }
  }
  for (auto& h : handlers) h();
}

}  // namespace quorvel
