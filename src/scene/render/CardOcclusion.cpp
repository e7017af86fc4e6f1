#include "scene/render/CardOcclusion.h"

#include <algorithm>
#include <cmath>

namespace quorvel {
namespace {

struct Box {  // half-open pixel box
  int64_t x0, y0, x1, y1;
};

Box boxOf(const GpuRegion& r) {
  return {r.x, r.y, static_cast<int64_t>(r.x) + r.width, static_cast<int64_t>(r.y) + r.height};
}

GpuRegion regionOf(const Box& b) {
  return {static_cast<uint32_t>(b.x0), static_cast<uint32_t>(b.y0), static_cast<uint32_t>(b.x1 - b.x0),
          static_cast<uint32_t>(b.y1 - b.y0)};
}

bool empty(const Box& b) { return b.x1 <= b.x0 || b.y1 <= b.y0; }

Box intersection(const Box& a, const Box& b) {
  return {std::max(a.x0, b.x0), std::max(a.y0, b.y0), std::min(a.x1, b.x1), std::min(a.y1, b.y1)};
}

uint64_t area(const GpuRegion& r) { return static_cast<uint64_t>(r.width) * r.height; }

}  // namespace

void CardOcclusion::reset(uint32_t width, uint32_t height) {
  width_ = width;
  height_ = height;
  interiors_.clear();
}

void CardOcclusion::addInterior(size_t place, GpuRegion interior) {
  const Box b = intersection(boxOf(interior), Box{0, 0, width_, height_});
  if (empty(b)) return;
  interiors_.push_back({place, regionOf(b)});
}

std::optional<GpuRegion> CardOcclusion::quadBounds(const Float4x4& mvp) const {
  const auto w = static_cast<float>(width_), h = static_cast<float>(height_);
  float left = INFINITY, right = -INFINITY, top = INFINITY, bottom = -INFINITY;
  for (float cy : {-0.5f, 0.5f})
    for (float cx : {-0.5f, 0.5f}) {
      const Float4 c = mvp * Float4{cx, cy, 0, 1};
      if (!(c.w > 1e-6f)) return std::nullopt;
      const float x = (c.x / c.w * 0.5f + 0.5f) * w, y = (0.5f - c.y / c.w * 0.5f) * h;
      if (!std::isfinite(x) || !std::isfinite(y)) return std::nullopt;
      left = std::min(left, x);
      right = std::max(right, x);
      top = std::min(top, y);
      bottom = std::max(bottom, y);
    }
  // A pixel to spare on each side: the driver's edge rules never reach past it.
  const float x0 = std::clamp(std::floor(left) - 1, 0.0f, w), x1 = std::clamp(std::ceil(right) + 1, 0.0f, w);
  const float y0 = std::clamp(std::floor(top) - 1, 0.0f, h), y1 = std::clamp(std::ceil(bottom) + 1, 0.0f, h);
  if (!(x1 > x0) || !(y1 > y0)) return GpuRegion{};
  return GpuRegion{static_cast<uint32_t>(x0), static_cast<uint32_t>(y0), static_cast<uint32_t>(x1 - x0),
                   static_cast<uint32_t>(y1 - y0)};
}

CardOcclusion::Parts CardOcclusion::visibleParts(GpuRegion bounds, size_t firstPlace, std::optional<GpuRegion> hole) {
  Parts parts;
  if (bounds.width == 0 || bounds.height == 0) return parts;
  parts.rects[0] = bounds;
  parts.count = 1;
  parts.whole = true;
  if (area(bounds) < kMinArea) return parts;
  const Box whole = boxOf(bounds);
  meeting_.clear();
  const auto first = std::lower_bound(interiors_.begin(), interiors_.end(), firstPlace,
                                      [](const Interior& i, size_t place) { return i.place < place; });
  for (auto it = first; it != interiors_.end(); ++it) {
    const Box in = intersection(whole, boxOf(it->rect));
    if (!empty(in)) meeting_.emplace_back(area(regionOf(in)), regionOf(in));
  }
  if (hole) {
    const Box in = intersection(whole, boxOf(*hole));
    if (!empty(in)) meeting_.emplace_back(area(regionOf(in)), regionOf(in));
  }
  if (meeting_.empty()) return parts;
  // The largest cover first: it takes the most away for the pieces it costs.
  std::stable_sort(meeting_.begin(), meeting_.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
  parts.whole = false;
  for (const auto& [coverArea, cover] : meeting_) {
    const Box o = boxOf(cover);
    Parts next;
    bool fits = true;
    auto keep = [&](const Box& b) {
      if (empty(b)) return;
      if (next.count == kMaxParts) {
        fits = false;
        return;
      }
      next.rects[next.count++] = regionOf(b);
    };
    for (size_t i = 0; i < parts.count && fits; ++i) {
      const Box p = boxOf(parts.rects[i]);
      const Box in = intersection(p, o);
      if (empty(in)) {
        keep(p);
        continue;
      }
      keep({p.x0, p.y0, p.x1, in.y0});     // above the cover
      keep({p.x0, in.y1, p.x1, p.y1});     // below it
      keep({p.x0, in.y0, in.x0, in.y1});   // left of it
      keep({in.x1, in.y0, p.x1, in.y1});   // right of it
    }
    if (fits) parts = next;
    if (parts.count == 0) break;
  }
  return parts;
}

}  // namespace quorvel
