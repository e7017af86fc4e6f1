#include "platform/RasterRegions.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace quorvel {

bool RasterRegion::overlaps(const RasterRegion& r) const {
  return !isEmpty() && !r.isEmpty() && std::max(x, r.x) < std::min(maxX(), r.maxX()) &&
         std::max(y, r.y) < std::min(maxY(), r.maxY());
}

RasterRegion RasterRegion::united(const RasterRegion& r) const {
  if (isEmpty()) return r;
  if (r.isEmpty()) return *this;
  const int x0 = std::min(x, r.x), y0 = std::min(y, r.y);
  return {x0, y0, std::max(maxX(), r.maxX()) - x0, std::max(maxY(), r.maxY()) - y0};
}

RasterRegion RasterRegion::intersected(const RasterRegion& r) const {
  const int x0 = std::max(x, r.x), y0 = std::max(y, r.y);
  const int x1 = std::min(maxX(), r.maxX()), y1 = std::min(maxY(), r.maxY());
  if (x1 <= x0 || y1 <= y0) return {};
  return {x0, y0, x1 - x0, y1 - y0};
}

RasterRegions RasterRegions::whole(int width, int height) {
  RasterRegions regions(width, height);
  regions.add({0, 0, width, height});
  return regions;
}

void RasterRegions::add(RasterRegion region) {
  region = region.intersected({0, 0, width_, height_});
  if (region.isEmpty()) return;
  // Swallow every rectangle the new one overlaps; the grown one may reach further ones.
  for (bool merged = true; merged;) {
    merged = false;
    for (auto it = rects_.begin(); it != rects_.end(); ++it) {
      if (!it->overlaps(region)) continue;
      region = region.united(*it);
      rects_.erase(it);
      merged = true;
      break;
    }
  }
  rects_.push_back(region);
  if (rects_.size() <= kMaxCount) return;
  // Too many: merge the pair whose bounding rectangle adds the fewest pixels, then settle overlaps.
  long best = std::numeric_limits<long>::max();
  size_t bi = 0, bj = 1;
  for (size_t i = 0; i < rects_.size(); ++i) {
    for (size_t j = i + 1; j < rects_.size(); ++j) {
      const long grown = rects_[i].united(rects_[j]).area() - rects_[i].area() - rects_[j].area();
      if (grown < best) {
        best = grown;
        bi = i;
        bj = j;
      }
    }
  }
  const RasterRegion both = rects_[bi].united(rects_[bj]);
  rects_.erase(rects_.begin() + static_cast<long>(bj));
  rects_.erase(rects_.begin() + static_cast<long>(bi));
  add(both);
}

void RasterRegions::addCanvasRect(const Rect& rect, double margin) {
  const Rect r = rect.standardized();
  if (r.isEmpty() || !std::isfinite(r.x) || !std::isfinite(r.y) || !std::isfinite(r.width) ||
      !std::isfinite(r.height) || !std::isfinite(margin))
    return;
  // Clamped before the conversion to int, so far-off rectangles stay defined.
  const auto clampTo = [](double v, int limit) {
    return static_cast<int>(std::clamp(v, -1.0, static_cast<double>(limit) + 1));
  };
  const int x0 = clampTo(std::floor(r.minX() - margin), width_);
  const int x1 = clampTo(std::ceil(r.maxX() + margin), width_);
  // Canvas y grows upward from the bottom row; rows count down from the top.
  const int top = clampTo(std::floor(height_ - r.maxY() - margin), height_);
  const int bottom = clampTo(std::ceil(height_ - r.minY() + margin), height_);
  add({x0, top, x1 - x0, bottom - top});
}

bool RasterRegions::contains(int x, int y) const {
  return std::any_of(rects_.begin(), rects_.end(), [&](const RasterRegion& r) { return r.contains(x, y); });
}

long RasterRegions::area() const {
  long total = 0;
  for (const RasterRegion& r : rects_) total += r.area();
  return total;
}

}  // namespace quorvel
