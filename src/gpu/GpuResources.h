#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "gpu/GpuTypes.h"

namespace quorvel {

// The objects a GPU device makes. Each is shared: a command buffer that uses one keeps it alive
// until the GPU has finished with it, so a caller may drop its own reference at any time. Once made
// they are immutable (a buffer's contents excepted) and usable from any thread.

class GpuResource {
 public:
  virtual ~GpuResource() = default;
  const std::string& label() const { return label_; }

 protected:
  explicit GpuResource(std::string label) : label_(std::move(label)) {}

 private:
  std::string label_;
};

// A BGRA8 (or single-channel) texture with `mipLevelCount()` levels. Bytes handed in or read back
// are rows of texels of its format ("BGRA" below reads as one byte a texel for a single channel).
class GpuTexture : public GpuResource {
 public:
  virtual uint32_t width() const = 0;
  virtual uint32_t height() const = 0;
  virtual uint32_t mipLevelCount() const = 0;
  virtual GpuPixelFormat format() const { return GpuPixelFormat::bgra8Unorm; }
  // Writes `bytes` (rows of BGRA, `bytesPerRow` apart) into the whole of `level` and returns once
  // the GPU holds them. Work committed afterwards sees the new contents. False when the level does
  // not exist or the GPU refused the copy.
  virtual bool replaceLevel(uint32_t level, const void* bytes, size_t bytesPerRow) = 0;
  // Writes only `regions` of `level`, each from the same place of `bytes`, which holds the whole
  // level (rows of BGRA, `bytesPerRow` apart, first row at the top), and returns once the GPU holds
  // them: one copy for all of them. The rest of the level keeps what it held. No regions: nothing
  // to do (true). False, with nothing written, when the level does not exist, a region is empty or
  // reaches outside the level, or the GPU refused the copy.
  virtual bool replaceRegions(uint32_t level, const std::vector<GpuRegion>& regions, const void* bytes,
                              size_t bytesPerRow) = 0;

 protected:
  using GpuResource::GpuResource;
};

// A buffer in memory shared by the CPU and the GPU (shared storage): the CPU writes through
// contents(); a command buffer committed afterwards reads what was written.
class GpuBuffer : public GpuResource {
 public:
  virtual void* contents() = 0;
  virtual size_t length() const = 0;

 protected:
  using GpuResource::GpuResource;
};

class GpuSampler : public GpuResource {
 public:
  virtual float maxAnisotropy() const = 0;

 protected:
  using GpuResource::GpuResource;
};

// One compiled shader entry point of the shader library.
class GpuShaderFunction : public GpuResource {
 protected:
  using GpuResource::GpuResource;
};

// The render pipeline of the program: a unit-quad vertex layout (a float2 position and a float2
// texture coordinate, 16 bytes a vertex), one BGRA8 colour target, no depth or stencil. Its binding
// layout is fixed (see GpuRenderEncoder).
class GpuRenderPipeline : public GpuResource {
 protected:
  using GpuResource::GpuResource;
};

}  // namespace quorvel
