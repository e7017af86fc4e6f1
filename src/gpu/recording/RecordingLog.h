#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <deque>
#include <vector>

#include "gpu/GpuResources.h"

namespace quorvel {

// What the recording GPU device saw: plain copies of every committed command buffer, for tests and
// CPU benchmarks of the code that encodes GPU work.

struct RecordedDraw {
  std::shared_ptr<GpuRenderPipeline> pipeline;
  std::shared_ptr<GpuBuffer> vertexBuffer;   // vertex buffer 0
  std::shared_ptr<GpuBuffer> recordBuffer;   // vertex buffer 1
  size_t recordBufferOffset = 0;
  uint32_t recordIndex = 0;                  // the first 4 bytes of vertex bytes 2
  std::string record;                        // the draw's record as it stood when drawn
  std::shared_ptr<GpuTexture> texture;       // fragment texture 0
  std::shared_ptr<GpuSampler> sampler;       // fragment sampler 0
  std::array<float, 4> fragmentBytes0{};     // the accent colour
  float fragmentBytes1 = 0;                  // the contents scale
  std::optional<GpuRegion> scissor;          // none: the whole target
  uint32_t vertexStart = 0;
  uint32_t vertexCount = 0;
};

struct RecordedBlit {
  enum class Kind { upload, blit, copyLevel, copyRegion, generateMipmaps } kind = Kind::upload;
  std::shared_ptr<GpuTexture> source;
  std::shared_ptr<GpuTexture> destination;
  uint32_t sourceLevel = 0;
  uint32_t destinationLevel = 0;
  GpuRegion sourceRegion, destinationRegion;  // blits; a region copy's region in both
};

struct RecordedEncoder {
  enum class Kind { render, blit } kind = Kind::render;
  std::string label;
  std::shared_ptr<GpuTexture> target;  // render encoders
  bool clear = false;
  GpuColor clearColor;
  std::optional<GpuRegion> area;  // the pass's area; none: the whole target
  std::vector<RecordedDraw> draws;
  std::vector<RecordedBlit> blits;
  bool ended = false;
};

struct RecordedCommandBuffer {
  std::string queueLabel;
  std::string label;
  std::deque<RecordedEncoder> encoders;  // a deque: an open encoder keeps its place
  size_t presentedDrawables = 0;
  size_t completedHandlers = 0;
};

}  // namespace quorvel
