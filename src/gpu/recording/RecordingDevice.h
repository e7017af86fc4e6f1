#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "gpu/GpuDevice.h"
#include "gpu/recording/RecordingLog.h"

namespace quorvel {

// A GPU device that executes nothing and records everything: each committed command buffer is kept
// as a RecordedCommandBuffer. Resources are plain memory; buffers are real memory that the caller
// writes. Completion handlers run on the committing thread at commit, or, while completions are
// held, when the test releases them. Failures can be injected to drive the callers' fallbacks.
// Safe to use from any thread.
class RecordingDevice final : public GpuDevice, public std::enable_shared_from_this<RecordingDevice> {
 public:
  struct Failures {
    bool commandBuffers = false;  // makeCommandBuffer answers none
    bool renderEncoders = false;  // makeRenderEncoder answers none
    bool library = false;         // makeDefaultLibrary answers none
    std::string missingFunction;  // makeFunction answers none for this name
    bool pipelines = false;
    bool samplers = false;
    bool textures = false;
    size_t largestBuffer = SIZE_MAX;  // makeBuffer answers none above this length
    bool committedWork = false;       // committed command buffers end in error
  };

  // `recordStride` is the size of one per-draw record, copied into each RecordedDraw.
  static std::shared_ptr<RecordingDevice> make(size_t recordStride = 160);

  std::string name() const override { return "Recording"; }
  bool isSoftware() const override { return true; }
  std::shared_ptr<GpuCommandQueue> makeCommandQueue(const std::string& label) override;
  std::shared_ptr<GpuTexture> makeTexture(const GpuTextureDescriptor& descriptor) override;
  std::shared_ptr<GpuBuffer> makeBuffer(size_t length, const std::string& label) override;
  std::shared_ptr<GpuSampler> makeSampler(const GpuSamplerDescriptor& descriptor) override;
  std::shared_ptr<GpuShaderLibrary> makeDefaultLibrary() override;
  std::shared_ptr<GpuRenderPipeline> makeRenderPipeline(const GpuRenderPipelineDescriptor& descriptor) override;
  std::shared_ptr<GpuOffscreenSurface> makeOffscreenSurface(const std::string& label) override;
  GpuPixels readTexture(const std::shared_ptr<GpuTexture>& texture, uint32_t level) override;
  void waitIdle() override;

  void setFailures(const Failures& failures);
  Failures failures() const;

  // While held, completion handlers wait for releaseCompletions().
  void holdCompletions(bool hold);
  // Runs the handlers of every held command buffer (on the calling thread); returns how many
  // command buffers completed.
  size_t releaseCompletions();
  size_t heldCompletions() const;

  std::vector<RecordedCommandBuffer> commandBuffers() const;
  size_t commandBufferCount() const;
  void clearLog();
  // Buffers made so far (uniform growth shows here).
  std::vector<std::shared_ptr<GpuBuffer>> buffers() const;
  // The textures made that someone still holds (the recorded command buffers among them).
  std::vector<std::shared_ptr<GpuTexture>> liveTextures() const;

  // Called by the recording command buffers.
  void commitRecord(RecordedCommandBuffer record, std::vector<std::function<void()>> handlers);
  size_t recordStride() const { return recordStride_; }

 private:
  explicit RecordingDevice(size_t recordStride) : recordStride_(recordStride) {}

  const size_t recordStride_;
  mutable std::mutex mutex_;
  Failures failures_;
  bool hold_ = false;
  std::vector<std::vector<std::function<void()>>> held_;
  std::vector<RecordedCommandBuffer> log_;
  std::vector<std::weak_ptr<GpuBuffer>> buffers_;
  std::vector<std::weak_ptr<GpuTexture>> textures_;
};

}  // namespace quorvel
