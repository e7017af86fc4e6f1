#pragma once

#include <functional>
#include <memory>
#include <string>

#include "gpu/GpuCommandBuffer.h"
#include "gpu/GpuDevice.h"

namespace quorvel {

// The one GPU device of the process and its shared command queue. Every texture of the program is
// made on `device`; work without a queue of its own is committed to `commandQueue`. Immutable once
// made; usable from every thread.
class GpuContext {
 public:
  // Opens the GPU device; none with the reason in `error` when there is none.
  using DeviceOpener = std::function<std::shared_ptr<GpuDevice>(std::string* error)>;

  GpuContext(std::shared_ptr<GpuDevice> device, std::shared_ptr<GpuCommandQueue> commandQueue)
      : device(std::move(device)), commandQueue(std::move(commandQueue)) {}

  // A context on `device` with a new queue "Quorvel shared queue"; none without a device or queue.
  static std::shared_ptr<GpuContext> make(std::shared_ptr<GpuDevice> device);

  // The process's shared context, made on first use with `open`, once, safely from any thread
  // (later calls ignore `open`). Without a device or queue the process stops with the message
  // "Vulkan is unavailable: " and the reason.
  static std::shared_ptr<GpuContext> shared(const DeviceOpener& open);

  const std::shared_ptr<GpuDevice> device;
  const std::shared_ptr<GpuCommandQueue> commandQueue;
};

}  // namespace quorvel
