#pragma once

#include <vulkan/vulkan.h>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "gpu/GpuDevice.h"
#include "gpu/vulkan/VulkanCore.h"
#include "gpu/vulkan/VulkanDrawable.h"

namespace quorvel {

// Where a command buffer's completion is told: its status, and a wait for it.
struct VulkanCompletion {
  std::mutex mutex;
  std::condition_variable changed;
  GpuCommandStatus status = GpuCommandStatus::notCommitted;
  // How the work ended, known before the completed handlers run so that they can ask; `status`
  // takes it (and the waits end) once they have run.
  std::optional<GpuCommandStatus> outcome;
};

// The work of one committed command buffer.
struct VulkanSubmission {
  VulkanCore::CommandSlot slot;
  std::vector<std::shared_ptr<VulkanDrawable>> drawables;  // presented after the work
  std::vector<std::shared_ptr<const void>> keepAlive;       // released after completion
  std::vector<std::function<void()>> handlers;              // run after completion
  std::shared_ptr<VulkanCompletion> completion;
};

// The GPU device on Vulkan (see VulkanCore for the choice of device). Every command queue shares
// the device's one hardware queue; each submission signals the next value of a timeline semaphore,
// and one completion thread ("quorvel.gpu") waits on it, runs the completion handlers in
// submission order and then releases what the command buffers kept alive.
class VulkanDevice final : public GpuDevice, public std::enable_shared_from_this<VulkanDevice> {
 public:
  // None with the reason in `error` when no device qualifies.
  static std::shared_ptr<VulkanDevice> make(const VulkanDeviceOptions& options, std::string* error = nullptr);
  // Waits for all committed work and its handlers, then ends the completion thread.
  ~VulkanDevice() override;
  VulkanDevice(const VulkanDevice&) = delete;
  VulkanDevice& operator=(const VulkanDevice&) = delete;

  std::string name() const override { return core_->deviceName(); }
  bool isSoftware() const override { return core_->isSoftware(); }
  std::shared_ptr<GpuCommandQueue> makeCommandQueue(const std::string& label) override;
  std::shared_ptr<GpuTexture> makeTexture(const GpuTextureDescriptor& descriptor) override;
  std::shared_ptr<GpuBuffer> makeBuffer(size_t length, const std::string& label) override;
  std::shared_ptr<GpuSampler> makeSampler(const GpuSamplerDescriptor& descriptor) override;
  std::shared_ptr<GpuShaderLibrary> makeDefaultLibrary() override;
  std::shared_ptr<GpuRenderPipeline> makeRenderPipeline(const GpuRenderPipelineDescriptor& descriptor) override;
  std::shared_ptr<GpuOffscreenSurface> makeOffscreenSurface(const std::string& label) override;
  GpuPixels readTexture(const std::shared_ptr<GpuTexture>& texture, uint32_t level) override;
  void waitIdle() override;

  const std::shared_ptr<VulkanCore>& core() const { return core_; }
  // Submits a recorded command buffer (ended), presents its drawables and hands it to the
  // completion thread. A refused submission completes at once with the error status.
  void submit(VulkanSubmission submission);

 private:
  struct Completions;
  VulkanDevice() = default;
  static void completionLoop(std::shared_ptr<Completions> completions);

  std::shared_ptr<VulkanCore> core_;
  std::shared_ptr<Completions> completions_;
  std::thread thread_;
};

}  // namespace quorvel
