#include "scene/render/DrawRecording.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace quorvel {
namespace {

std::optional<GpuRegion> intersect(const GpuRegion& a, const GpuRegion& b) {
  const uint32_t x0 = std::max(a.x, b.x), y0 = std::max(a.y, b.y);
  const uint64_t x1 = std::min<uint64_t>(uint64_t{a.x} + a.width, uint64_t{b.x} + b.width);
  const uint64_t y1 = std::min<uint64_t>(uint64_t{a.y} + a.height, uint64_t{b.y} + b.height);
  if (x1 <= x0 || y1 <= y0) return std::nullopt;
  return GpuRegion{x0, y0, static_cast<uint32_t>(x1 - x0), static_cast<uint32_t>(y1 - y0)};
}

}  // namespace

void FrameDamage::add(GpuRegion r) {
  if (whole || r.width == 0 || r.height == 0) return;
  if (!rect) {
    rect = r;
    return;
  }
  const uint32_t x0 = std::min(rect->x, r.x), y0 = std::min(rect->y, r.y);
  const uint32_t x1 = std::max(rect->x + rect->width, r.x + r.width);
  const uint32_t y1 = std::max(rect->y + rect->height, r.y + r.height);
  rect = GpuRegion{x0, y0, x1 - x0, y1 - y0};
}

void FrameDamage::add(const FrameDamage& other) {
  if (other.whole) {
    *this = all();
    return;
  }
  if (other.rect) add(*other.rect);
}

void DrawRecording::reset(uint32_t width, uint32_t height, GpuColor clear, size_t recordStride) {
  width_ = width;
  height_ = height;
  clear_ = clear;
  stride_ = recordStride;
  label_.clear();
  ops_.clear();
  draws_.clear();
  state_ = Draw{};
  records_.reset();
  recordsOffset_ = 0;
  recordIndex_ = 0;
}

void DrawRecording::clear() { reset(0, 0, {}, 0); }

void DrawRecording::setPipeline(const std::shared_ptr<GpuRenderPipeline>& pipeline) {
  ops_.push_back(Op{Kind::pipeline, 0, pipeline});
  state_.pipeline = pipeline.get();
}

void DrawRecording::setVertexBuffer(const std::shared_ptr<GpuBuffer>& buffer, size_t offset, uint32_t index) {
  Op op{Kind::vertexBuffer, index};
  op.buffer = buffer;
  op.offset = offset;
  ops_.push_back(std::move(op));
  if (index == 1) {
    records_ = buffer;
    recordsOffset_ = offset;
  }
}

void DrawRecording::setVertexBytes(const void* bytes, size_t length, uint32_t index) {
  Op op{Kind::vertexBytes, index};
  op.bytes.length = std::min(length, op.bytes.data.size());
  std::memcpy(op.bytes.data.data(), bytes, op.bytes.length);
  ops_.push_back(op);
  if (index == 2 && length >= sizeof(uint32_t)) std::memcpy(&recordIndex_, bytes, sizeof(uint32_t));
}

void DrawRecording::setFragmentTexture(const std::shared_ptr<GpuTexture>& texture, uint32_t index) {
  Op op{Kind::texture, index};
  op.texture = texture;
  ops_.push_back(std::move(op));
  if (index == 0) state_.texture = texture.get();
}

void DrawRecording::setFragmentSampler(const std::shared_ptr<GpuSampler>& sampler, uint32_t index) {
  Op op{Kind::sampler, index};
  op.sampler = sampler;
  ops_.push_back(std::move(op));
  if (index == 0) state_.sampler = sampler.get();
}

void DrawRecording::setFragmentBytes(const void* bytes, size_t length, uint32_t index) {
  Op op{Kind::fragmentBytes, index};
  op.bytes.length = std::min(length, op.bytes.data.size());
  std::memcpy(op.bytes.data.data(), bytes, op.bytes.length);
  ops_.push_back(op);
  if (index < 2) state_.fragment[index] = op.bytes;
}

void DrawRecording::setScissor(std::optional<GpuRegion> region) {
  Op op{Kind::scissor};
  op.scissor = region;
  ops_.push_back(op);
  state_.scissor = region;
}

void DrawRecording::drawTriangleStrip(uint32_t vertexStart, uint32_t vertexCount) {
  Op op{Kind::draw};
  op.vertexStart = vertexStart;
  op.vertexCount = vertexCount;
  ops_.push_back(op);
  Draw draw = state_;
  draw.vertexStart = vertexStart;
  draw.vertexCount = vertexCount;
  if (records_ && stride_ > 0) {
    const size_t at = recordsOffset_ + size_t{recordIndex_} * stride_;
    if (at + stride_ <= records_->length()) {
      const auto* p = static_cast<const uint8_t*>(records_->contents()) + at;
      draw.record.assign(p, p + stride_);
    }
  }
  draws_.push_back(std::move(draw));
}

void DrawRecording::replay(GpuRenderEncoder& encoder, std::optional<GpuRegion> area, Draws draws) const {
  if (!label_.empty()) encoder.setLabel(label_);
  auto clip = [&](std::optional<GpuRegion> scissor) -> std::optional<GpuRegion> {
    if (!area) return scissor;
    if (!scissor) return area;
    // A draw whose scissor misses the area draws nothing: an empty scissor inside it.
    return intersect(*scissor, *area).value_or(GpuRegion{area->x, area->y, 0, 0});
  };
  if (area) encoder.setScissor(area);
  size_t drawIndex = 0;
  for (const Op& op : ops_) {
    if (op.kind == Kind::draw) {
      const size_t index = drawIndex++;
      if (draws == Draws::firstOnly && index > 0) break;
      if (draws == Draws::allButFirst && index == 0) continue;
      // A draw that cannot reach the area is left out (its pixels would all be clipped away).
      if (area && index < draws_.size()) {
        const std::optional<GpuRegion> r = reach(draws_[index]);
        if (!r || !intersect(*r, *area)) continue;
      }
    }
    switch (op.kind) {
      case Kind::pipeline: encoder.setPipeline(op.pipeline); break;
      case Kind::vertexBuffer: encoder.setVertexBuffer(op.buffer, op.offset, op.index); break;
      case Kind::vertexBytes: encoder.setVertexBytes(op.bytes.data.data(), op.bytes.length, op.index); break;
      case Kind::texture: encoder.setFragmentTexture(op.texture, op.index); break;
      case Kind::sampler: encoder.setFragmentSampler(op.sampler, op.index); break;
      case Kind::fragmentBytes: encoder.setFragmentBytes(op.bytes.data.data(), op.bytes.length, op.index); break;
      case Kind::scissor: encoder.setScissor(clip(op.scissor)); break;
      case Kind::draw: encoder.drawTriangleStrip(op.vertexStart, op.vertexCount); break;
    }
  }
}

std::optional<GpuRegion> DrawRecording::reach(const Draw& draw) const {
  const GpuRegion target{0, 0, width_, height_};
  GpuRegion bounds = target;
  if (draw.record.size() >= sizeof(Float4x4)) {
    Float4x4 mvp;
    std::memcpy(&mvp, draw.record.data(), sizeof mvp);
    const auto w = static_cast<float>(width_), h = static_cast<float>(height_);
    float left = INFINITY, right = -INFINITY, top = INFINITY, bottom = -INFINITY;
    bool placed = true;
    for (float cy : {-0.5f, 0.5f})
      for (float cx : {-0.5f, 0.5f}) {
        const Float4 c = mvp * Float4{cx, cy, 0, 1};
        if (!(c.w > 1e-6f)) placed = false;  // reaches behind the eye: count the whole target
        const float x = (c.x / c.w * 0.5f + 0.5f) * w, y = (0.5f - c.y / c.w * 0.5f) * h;
        if (!std::isfinite(x) || !std::isfinite(y)) placed = false;
        left = std::min(left, x);
        right = std::max(right, x);
        top = std::min(top, y);
        bottom = std::max(bottom, y);
      }
    if (placed) {
      // Two pixels to spare on each side for the edges' smoothing.
      const float x0 = std::clamp(std::floor(left) - 2, 0.0f, w), x1 = std::clamp(std::ceil(right) + 2, 0.0f, w);
      const float y0 = std::clamp(std::floor(top) - 2, 0.0f, h), y1 = std::clamp(std::ceil(bottom) + 2, 0.0f, h);
      if (!(x1 > x0) || !(y1 > y0)) return std::nullopt;
      bounds = GpuRegion{static_cast<uint32_t>(x0), static_cast<uint32_t>(y0), static_cast<uint32_t>(x1 - x0),
                         static_cast<uint32_t>(y1 - y0)};
    }
  }
  if (draw.scissor) return intersect(bounds, *draw.scissor);
  return bounds;
}

FrameDamage DrawRecording::damage(const DrawRecording& before, const DrawRecording& now) {
  if (before.width_ != now.width_ || before.height_ != now.height_ || before.draws_.size() != now.draws_.size() ||
      before.clear_.red != now.clear_.red || before.clear_.green != now.clear_.green ||
      before.clear_.blue != now.clear_.blue || before.clear_.alpha != now.clear_.alpha)
    return FrameDamage::all();
  FrameDamage damage;
  for (size_t i = 0; i < now.draws_.size(); ++i) {
    if (before.draws_[i] == now.draws_[i]) continue;
    // The pixels the draw covered before and those it covers now.
    if (auto r = before.reach(before.draws_[i])) damage.add(*r);
    if (auto r = now.reach(now.draws_[i])) damage.add(*r);
  }
  return damage;
}

}  // namespace quorvel
