#include "gpu/vulkan/VulkanDevice.h"

#include <pthread.h>

#include <cstring>

#include "gpu/vulkan/VulkanBuffer.h"
#include "gpu/vulkan/VulkanCommandQueue.h"
#include "gpu/vulkan/VulkanOffscreenSurface.h"
#include "gpu/vulkan/VulkanRenderPipeline.h"
#include "gpu/vulkan/VulkanSampler.h"
#include "gpu/vulkan/VulkanShaderLibrary.h"
#include "gpu/vulkan/VulkanTexture.h"

namespace quorvel {

struct VulkanDevice::Completions {
  struct Pending {
    uint64_t value = 0;
    VulkanSubmission submission;
    GpuCommandStatus status = GpuCommandStatus::completed;
  };
  std::shared_ptr<VulkanCore> core;
  std::mutex mutex;
  std::condition_variable wake;     // new pending work or stop
  std::condition_variable drained;  // pending and running reached zero
  std::deque<Pending> pending;
  size_t running = 0;
  bool stop = false;
  bool lost = false;
};

std::shared_ptr<VulkanDevice> VulkanDevice::make(const VulkanDeviceOptions& options, std::string* error) {
  auto core = VulkanCore::make(options, error);
  if (!core) return nullptr;
  std::shared_ptr<VulkanDevice> device(new VulkanDevice());
  device->core_ = core;
  device->completions_ = std::make_shared<Completions>();
  device->completions_->core = core;
  device->thread_ = std::thread(&VulkanDevice::completionLoop, device->completions_);
  return device;
}

VulkanDevice::~VulkanDevice() {
  const bool onCompletionThread = std::this_thread::get_id() == thread_.get_id();
  if (!onCompletionThread) waitIdle();
  {
    std::lock_guard lock(completions_->mutex);
    completions_->stop = true;
  }
  completions_->wake.notify_all();
  // The thread keeps its own reference to what it needs, so a device released by a completion
  // handler lets its thread finish by itself.
  if (onCompletionThread) thread_.detach();
  else if (thread_.joinable()) thread_.join();
}

void VulkanDevice::completionLoop(std::shared_ptr<Completions> c) {
  pthread_setname_np(pthread_self(), "quorvel.gpu");
  VkDevice device = c->core->device();
  VkSemaphore timeline = c->core->timeline();
  std::unique_lock lock(c->mutex);
  for (;;) {
    c->wake.wait(lock, [&] { return c->stop || !c->pending.empty(); });
    if (c->pending.empty()) {
      if (c->stop) return;
      continue;
    }
    const uint64_t target = c->pending.front().value;
    lock.unlock();
    uint64_t reached = 0;
    if (!c->lost) {
      VkSemaphoreWaitInfo wait{VK_STRUCTURE_TYPE_SEMAPHORE_WAIT_INFO};
      wait.semaphoreCount = 1;
      wait.pSemaphores = &timeline;
      wait.pValues = &target;
      const VkResult r = vkWaitSemaphores(device, &wait, 5'000'000);  // 5 ms, then look again
      if (r == VK_TIMEOUT) {
        lock.lock();
        continue;
      }
      if (r != VK_SUCCESS || vkGetSemaphoreCounterValue(device, timeline, &reached) != VK_SUCCESS) c->lost = true;
    }
    lock.lock();
    std::vector<Completions::Pending> done;
    while (!c->pending.empty() && (c->lost || c->pending.front().value <= reached)) {
      done.push_back(std::move(c->pending.front()));
      if (c->lost) done.back().status = GpuCommandStatus::error;
      c->pending.pop_front();
    }
    const size_t finished = done.size();
    c->running += finished;
    lock.unlock();
    for (auto& entry : done) {
      {
        std::lock_guard l(entry.submission.completion->mutex);
        entry.submission.completion->outcome = entry.status;
      }
      for (auto& handler : entry.submission.handlers) handler();
      {
        std::lock_guard l(entry.submission.completion->mutex);
        entry.submission.completion->status = entry.status;
      }
      entry.submission.completion->changed.notify_all();
      c->core->recycleCommandSlot(entry.submission.slot);
      entry.submission.keepAlive.clear();
      entry.submission.drawables.clear();
      entry.submission.handlers.clear();
    }
    done.clear();
    lock.lock();
    c->running -= finished;
    if (c->pending.empty() && c->running == 0) c->drained.notify_all();
  }
}

void VulkanDevice::submit(VulkanSubmission s) {
  VulkanCore& core = *core_;
  Completions::Pending entry;
  entry.status = GpuCommandStatus::completed;
  // The drawables are told how their presentation went once the queue's lock is let go: their
  // surfaces take locks of their own, which a thread holding one may hold while it submits.
  std::vector<std::pair<VulkanDrawable*, VkResult>> presentations;
  {
    std::lock_guard lock(core.submitMutex());
    entry.value = core.nextTimelineValue();
    VkCommandBufferSubmitInfo cb{VK_STRUCTURE_TYPE_COMMAND_BUFFER_SUBMIT_INFO};
    cb.commandBuffer = s.slot.buffer;
    std::vector<VkSemaphoreSubmitInfo> waits, signals;
    VkSemaphoreSubmitInfo timeline{VK_STRUCTURE_TYPE_SEMAPHORE_SUBMIT_INFO};
    timeline.semaphore = core.timeline();
    timeline.value = entry.value;
    timeline.stageMask = VK_PIPELINE_STAGE_2_ALL_COMMANDS_BIT;
    signals.push_back(timeline);
    for (const auto& d : s.drawables) {
      if (!d->isSwapchainImage()) continue;
      VkSemaphoreSubmitInfo w{VK_STRUCTURE_TYPE_SEMAPHORE_SUBMIT_INFO};
      w.semaphore = d->swapchain().acquired;
      w.stageMask = VK_PIPELINE_STAGE_2_ALL_COMMANDS_BIT;
      waits.push_back(w);
      VkSemaphoreSubmitInfo r{VK_STRUCTURE_TYPE_SEMAPHORE_SUBMIT_INFO};
      r.semaphore = d->swapchain().ready;
      r.stageMask = VK_PIPELINE_STAGE_2_ALL_COMMANDS_BIT;
      signals.push_back(r);
    }
    VkSubmitInfo2 submit{VK_STRUCTURE_TYPE_SUBMIT_INFO_2};
    submit.waitSemaphoreInfoCount = static_cast<uint32_t>(waits.size());
    submit.pWaitSemaphoreInfos = waits.data();
    submit.commandBufferInfoCount = 1;
    submit.pCommandBufferInfos = &cb;
    submit.signalSemaphoreInfoCount = static_cast<uint32_t>(signals.size());
    submit.pSignalSemaphoreInfos = signals.data();
    if (vkQueueSubmit2(core.queue(), 1, &submit, VK_NULL_HANDLE) != VK_SUCCESS) {
      entry.status = GpuCommandStatus::error;
      // Reach the value anyway so that later waits do not stall on it.
      VkSemaphoreSignalInfo host{VK_STRUCTURE_TYPE_SEMAPHORE_SIGNAL_INFO};
      host.semaphore = core.timeline();
      host.value = entry.value;
      vkSignalSemaphore(core.device(), &host);
    } else {
      for (const auto& d : s.drawables) {
        if (!d->isSwapchainImage()) {
          presentations.emplace_back(d.get(), VK_SUCCESS);
          continue;
        }
        VkPresentInfoKHR present{VK_STRUCTURE_TYPE_PRESENT_INFO_KHR};
        const VulkanDrawable::Swapchain& sc = d->swapchain();
        present.waitSemaphoreCount = 1;
        present.pWaitSemaphores = &sc.ready;
        present.swapchainCount = 1;
        present.pSwapchains = &sc.swapchain;
        present.pImageIndices = &sc.imageIndex;
        presentations.emplace_back(d.get(), vkQueuePresentKHR(core.queue(), &present));
      }
    }
  }
  for (const auto& [drawable, result] : presentations) drawable->presented(result);
  {
    std::lock_guard lock(s.completion->mutex);
    s.completion->status = GpuCommandStatus::committed;
  }
  entry.submission = std::move(s);
  {
    std::lock_guard lock(completions_->mutex);
    completions_->pending.push_back(std::move(entry));
  }
  completions_->wake.notify_all();
}

void VulkanDevice::waitIdle() {
  std::unique_lock lock(completions_->mutex);
  completions_->drained.wait(lock, [&] { return completions_->pending.empty() && completions_->running == 0; });
}

std::shared_ptr<GpuCommandQueue> VulkanDevice::makeCommandQueue(const std::string& label) {
  return std::make_shared<VulkanCommandQueue>(shared_from_this(), label);
}

std::shared_ptr<GpuTexture> VulkanDevice::makeTexture(const GpuTextureDescriptor& descriptor) {
  return VulkanTexture::make(core_, descriptor);
}

std::shared_ptr<GpuBuffer> VulkanDevice::makeBuffer(size_t length, const std::string& label) {
  return VulkanBuffer::make(core_, length, label);
}

std::shared_ptr<GpuSampler> VulkanDevice::makeSampler(const GpuSamplerDescriptor& descriptor) {
  return VulkanSampler::make(core_, descriptor);
}

std::shared_ptr<GpuShaderLibrary> VulkanDevice::makeDefaultLibrary() {
  return std::make_shared<VulkanShaderLibrary>(core_);
}

std::shared_ptr<GpuRenderPipeline> VulkanDevice::makeRenderPipeline(const GpuRenderPipelineDescriptor& descriptor) {
  return VulkanRenderPipeline::make(core_, descriptor);
}

std::shared_ptr<GpuOffscreenSurface> VulkanDevice::makeOffscreenSurface(const std::string& label) {
  return std::make_shared<VulkanOffscreenSurface>(shared_from_this(), label);
}

GpuPixels VulkanDevice::readTexture(const std::shared_ptr<GpuTexture>& texture, uint32_t level) {
  auto* t = dynamic_cast<VulkanTexture*>(texture.get());
  if (!t) return {};
  return t->read(level);
}

}  // namespace quorvel
