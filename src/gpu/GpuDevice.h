#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "gpu/GpuCommandBuffer.h"
#include "gpu/GpuResources.h"
#include "gpu/GpuShaderLibrary.h"
#include "gpu/GpuSurface.h"

namespace quorvel {

struct GpuRenderPipelineDescriptor {
  std::string label;
  std::shared_ptr<GpuShaderFunction> vertexFunction;
  std::shared_ptr<GpuShaderFunction> fragmentFunction;
  GpuPixelFormat colorFormat = GpuPixelFormat::bgra8Unorm;
  // Blending for premultiplied colours: source x 1 + destination x (1 - source alpha), for colour
  // and alpha alike. Without it the draw replaces the target.
  bool premultipliedBlending = true;
};

// One GPU, chosen once per process. Every factory answers none on failure (out of memory, an
// invalid descriptor) and never throws. Safe to use from any thread.
class GpuDevice {
 public:
  virtual ~GpuDevice() = default;

  virtual std::string name() const = 0;
  // True for a device that draws on the CPU.
  virtual bool isSoftware() const = 0;

  virtual std::shared_ptr<GpuCommandQueue> makeCommandQueue(const std::string& label) = 0;
  virtual std::shared_ptr<GpuTexture> makeTexture(const GpuTextureDescriptor& descriptor) = 0;
  virtual std::shared_ptr<GpuBuffer> makeBuffer(size_t length, const std::string& label) = 0;
  virtual std::shared_ptr<GpuSampler> makeSampler(const GpuSamplerDescriptor& descriptor) = 0;
  // The program's built-in shaders; none when the device cannot load them.
  virtual std::shared_ptr<GpuShaderLibrary> makeDefaultLibrary() = 0;
  virtual std::shared_ptr<GpuRenderPipeline> makeRenderPipeline(const GpuRenderPipelineDescriptor& descriptor) = 0;
  // A windowless surface for tests and benchmarks.
  virtual std::shared_ptr<GpuOffscreenSurface> makeOffscreenSurface(const std::string& label) = 0;

  // Reads one level of a texture back (for tests), after the GPU work committed so far.
  virtual GpuPixels readTexture(const std::shared_ptr<GpuTexture>& texture, uint32_t level) = 0;
  // Blocks until every command buffer committed so far has completed and its handlers have run.
  virtual void waitIdle() = 0;
};

}  // namespace quorvel
