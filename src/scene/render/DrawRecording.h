#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "gpu/GpuRenderEncoder.h"
#include "scene/SceneMath.h"

namespace quorvel {

// A rectangle of the target that changed from one frame to the next: none, some pixels, or all.
struct FrameDamage {
  bool whole = false;
  std::optional<GpuRegion> rect;  // when not whole; none: nothing changed

  static FrameDamage all() { return {true, std::nullopt}; }
  bool isEmpty() const { return !whole && !rect; }
  // Grows this damage by `other` (one rectangle around both).
  void add(const FrameDamage& other);
  void add(GpuRegion region);
};

// The draws of one frame as the card renderer encodes them: kept so that the next frame can tell
// which pixels differ from it, and replayed into the real encoder, whole or clipped to those
// pixels. A draw is its pipeline, texture, sampler, fragment bytes, scissor and the bytes of the
// per-draw record it reads (the record's model-view-projection places it on the target); the
// record buffer itself (a different one each frame) is not compared. Textures are compared as
// objects: a texture whose contents change must be a new object (every picture, plate and badge
// is; the overlay chrome alternates between two).
//
// The recording holds the resources it names until reset, so a texture of the frame before cannot
// be freed and its address reused by another. Render thread only.
class DrawRecording final : public GpuRenderEncoder {
 public:
  // Starts a frame for a target of this size, cleared to `clear`, whose records are `recordStride`
  // bytes apart in the record buffer.
  void reset(uint32_t width, uint32_t height, GpuColor clear, size_t recordStride);
  // Drops every recorded draw and the resources it holds.
  void clear();
  bool isEmpty() const { return ops_.empty(); }
  uint32_t width() const { return width_; }
  uint32_t height() const { return height_; }

  // Which draws a replay encodes: all of them, the first alone, or all but the first (whose pixels
  // the target holds already). The other operations are encoded in every case.
  enum class Draws { all, firstOnly, allButFirst };
  // Encodes the frame into `encoder`, every draw clipped to `area` (none: the whole target).
  void replay(GpuRenderEncoder& encoder, std::optional<GpuRegion> area, Draws draws = Draws::all) const;
  // The pixels that differ between frame `before` and frame `now`: all of them when the two differ
  // in size, clear colour or in the sequence of their draws.
  static FrameDamage damage(const DrawRecording& before, const DrawRecording& now);

  // GpuRenderEncoder: recorded, not encoded.
  void setLabel(const std::string& label) override { label_ = label; }
  void setPipeline(const std::shared_ptr<GpuRenderPipeline>& pipeline) override;
  void setVertexBuffer(const std::shared_ptr<GpuBuffer>& buffer, size_t offset, uint32_t index) override;
  void setVertexBytes(const void* bytes, size_t length, uint32_t index) override;
  void setFragmentTexture(const std::shared_ptr<GpuTexture>& texture, uint32_t index) override;
  void setFragmentSampler(const std::shared_ptr<GpuSampler>& sampler, uint32_t index) override;
  void setFragmentBytes(const void* bytes, size_t length, uint32_t index) override;
  void setScissor(std::optional<GpuRegion> region) override;
  void drawTriangleStrip(uint32_t vertexStart, uint32_t vertexCount) override;
  void endEncoding() override {}

 private:
  enum class Kind : uint8_t { pipeline, vertexBuffer, vertexBytes, texture, sampler, fragmentBytes, scissor, draw };
  struct Bytes {
    std::array<uint8_t, 16> data{};
    size_t length = 0;
    bool operator==(const Bytes&) const = default;
  };
  struct Op {
    Kind kind;
    uint32_t index = 0;
    std::shared_ptr<GpuRenderPipeline> pipeline;
    std::shared_ptr<GpuBuffer> buffer;
    size_t offset = 0;
    std::shared_ptr<GpuTexture> texture;
    std::shared_ptr<GpuSampler> sampler;
    Bytes bytes;
    std::optional<GpuRegion> scissor;
    uint32_t vertexStart = 0, vertexCount = 0;
  };
  // What one draw reads, to compare with the same draw of another frame.
  struct Draw {
    const GpuRenderPipeline* pipeline = nullptr;
    const GpuTexture* texture = nullptr;
    const GpuSampler* sampler = nullptr;
    Bytes fragment[2];
    std::optional<GpuRegion> scissor;
    uint32_t vertexStart = 0, vertexCount = 0;
    std::vector<uint8_t> record;  // the per-draw record's bytes
    bool operator==(const Draw&) const = default;
  };
  // The pixels a draw may touch: its quad's bounds on the target, within its scissor.
  std::optional<GpuRegion> reach(const Draw& draw) const;

  uint32_t width_ = 0, height_ = 0;
  GpuColor clear_;
  size_t stride_ = 0;
  std::string label_;
  std::vector<Op> ops_;
  std::vector<Draw> draws_;
  // The state as recorded so far (for the draws).
  Draw state_;
  std::shared_ptr<GpuBuffer> records_;
  size_t recordsOffset_ = 0;
  uint32_t recordIndex_ = 0;
};

}  // namespace quorvel
