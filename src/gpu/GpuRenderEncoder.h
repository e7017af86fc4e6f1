#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "gpu/GpuResources.h"

namespace quorvel {

// The colour target of one render pass.
struct GpuRenderPass {
  std::shared_ptr<GpuTexture> colorTexture;
  bool clear = true;  // clear to `clearColor` at the start, else keep the contents
  GpuColor clearColor;
  // The pixels the pass touches (clamped to the target): only they are cleared and drawn (every
  // draw is clipped to them, its scissor too); the rest of the target keeps its contents. None: the
  // whole target.
  std::optional<GpuRegion> area;
};

// Records the draws of one render pass into its command buffer. Made by a command buffer, used by
// one thread at a time, finished by endEncoding() before the command buffer makes another encoder
// or commits.
//
// The binding layout of the program's pipeline:
//   vertex buffer 0          the vertex buffer (the unit quad)
//   vertex buffer 1          a storage buffer of per-draw records, read by the vertex and fragment
//                            stages
//   vertex bytes 2           up to 16 bytes (the record index of the draw)
//   fragment texture 0       the draw's texture
//   fragment sampler 0       its sampler
//   fragment bytes 0 and 1   up to 16 bytes each (the accent colour, the contents scale)
// A binding stays until it is set again; every draw sees the bindings as they stand when it is
// recorded.
class GpuRenderEncoder {
 public:
  virtual ~GpuRenderEncoder() = default;
  virtual void setLabel(const std::string& label) = 0;
  virtual void setPipeline(const std::shared_ptr<GpuRenderPipeline>& pipeline) = 0;
  virtual void setVertexBuffer(const std::shared_ptr<GpuBuffer>& buffer, size_t offset, uint32_t index) = 0;
  virtual void setVertexBytes(const void* bytes, size_t length, uint32_t index) = 0;
  virtual void setFragmentTexture(const std::shared_ptr<GpuTexture>& texture, uint32_t index) = 0;
  virtual void setFragmentSampler(const std::shared_ptr<GpuSampler>& sampler, uint32_t index) = 0;
  virtual void setFragmentBytes(const void* bytes, size_t length, uint32_t index) = 0;
  // The draws that follow touch only the pixels of `region` (clamped to the target); none: the
  // whole target (as at the start of the pass).
  virtual void setScissor(std::optional<GpuRegion> region) = 0;
  // One triangle strip of `vertexCount` vertices from `vertexStart`, over the whole target (or the
  // scissor's region).
  virtual void drawTriangleStrip(uint32_t vertexStart, uint32_t vertexCount) = 0;
  virtual void endEncoding() = 0;
};

// Records copies between textures and mip generation into its command buffer. Same rules of use as
// the render encoder. Every operation sees the results of the operations recorded before it, in
// this command buffer and in command buffers committed earlier on any queue of the device.
class GpuBlitEncoder {
 public:
  virtual ~GpuBlitEncoder() = default;
  virtual void setLabel(const std::string& label) = 0;
  // Copies `bytes` (rows `bytesPerRow` apart) into the whole of `level`; the bytes are copied at
  // once, so the caller may free them on return. False when the level does not exist.
  virtual bool uploadLevel(const std::shared_ptr<GpuTexture>& texture, uint32_t level, const void* bytes,
                           size_t bytesPerRow) = 0;
  // Scales one region into another with linear filtering.
  virtual void blit(const std::shared_ptr<GpuTexture>& source, uint32_t sourceLevel, GpuRegion sourceRegion,
                    const std::shared_ptr<GpuTexture>& destination, uint32_t destinationLevel,
                    GpuRegion destinationRegion) = 0;
  // Copies a whole level into a level of the same size. False when the sizes differ or a level
  // does not exist.
  virtual bool copyLevel(const std::shared_ptr<GpuTexture>& source, uint32_t sourceLevel,
                         const std::shared_ptr<GpuTexture>& destination, uint32_t destinationLevel) = 0;
  // Copies `region` of level 0 to the same place in level 0 of a texture of the same size. False
  // when the sizes differ or the region does not fit (or a texture is a swapchain's).
  virtual bool copyRegion(const std::shared_ptr<GpuTexture>& source, const std::shared_ptr<GpuTexture>& destination,
                          GpuRegion region) = 0;
  // Fills levels 1 and up from level 0, each a linear half-size of the one above.
  virtual void generateMipmaps(const std::shared_ptr<GpuTexture>& texture) = 0;
  virtual void endEncoding() = 0;
};

}  // namespace quorvel
