#pragma once

#include <functional>
#include <memory>
#include <string>

#include "gpu/GpuRenderEncoder.h"
#include "gpu/GpuTypes.h"

namespace quorvel {

class GpuDrawable;

// One batch of GPU work. Made by a command queue on any thread and used by one thread at a time
// until commit(). It keeps alive every resource its encoders use, and the drawable it presents,
// until the GPU has finished the work.
//
// Completion handlers run once each, after the work completed (or failed), on the device's one
// completion thread; they must be short and must not wait for other GPU work.
class GpuCommandBuffer {
 public:
  virtual ~GpuCommandBuffer() = default;
  virtual void setLabel(const std::string& label) = 0;
  virtual const std::string& label() const = 0;
  // None when an encoder is still open, after commit, or when the pass cannot be made.
  virtual std::unique_ptr<GpuRenderEncoder> makeRenderEncoder(const GpuRenderPass& pass) = 0;
  virtual std::unique_ptr<GpuBlitEncoder> makeBlitEncoder() = 0;
  virtual void addCompletedHandler(std::function<void()> handler) = 0;
  // Shows the drawable once the work of this command buffer is done. A drawable that was not drawn
  // into shows transparent.
  virtual void present(const std::shared_ptr<GpuDrawable>& drawable) = 0;
  virtual void commit() = 0;
  // Blocks until the work completed; returns at once when it was never committed.
  virtual void waitUntilCompleted() = 0;
  // Completed or error from the moment the work ended: the completed handlers can ask it.
  virtual GpuCommandStatus status() const = 0;
};

// A queue of command buffers: work committed on one queue runs in commit order. Every queue of a
// device may share one hardware queue.
class GpuCommandQueue {
 public:
  virtual ~GpuCommandQueue() = default;
  virtual const std::string& label() const = 0;
  // None when the device cannot make one now.
  virtual std::shared_ptr<GpuCommandBuffer> makeCommandBuffer() = 0;
};

}  // namespace quorvel
