#include "pictures/CaptureGeometry.h"

#include <algorithm>
#include <cmath>

namespace quorvel {

PixelSize CaptureGeometry::captureSize(const CaptureFilterGeometry& filter, const Rect& frame) {
  const double scale = filter.pointPixelScale > 0 ? filter.pointPixelScale : 1;
  const Rect rect = (filter.contentRect.width >= 1 && filter.contentRect.height >= 1) ? filter.contentRect : frame;
  // A side that is not a number counts as 1 point.
  const double w = scale * std::max(1.0, std::isnan(rect.width) ? 1.0 : rect.width);
  const double h = scale * std::max(1.0, std::isnan(rect.height) ? 1.0 : rect.height);
  const double f = std::min({kMaxWidth / w, kMaxHeight / h, 1.0});
  auto side = [](double v) -> int64_t {
    const double r = std::round(v);  // half away from zero
    if (!(r >= 1)) return 1;
    return static_cast<int64_t>(std::min(r, 1e9));
  };
  return {side(w * f), side(h * f)};
}

Rect CaptureGeometry::appRegion(const ShareableWindow& window, const std::vector<ShareableWindow>& windows) {
  if (!window.owningApplication) return window.frame;
  const int32_t pid = window.owningApplication->processID;
  Rect region = window.frame.standardized();
  for (const auto& other : windows) {
    if (!other.owningApplication || other.owningApplication->processID != pid) continue;
    const Rect f = other.frame.standardized();
    const double x0 = std::min(region.minX(), f.minX()), y0 = std::min(region.minY(), f.minY());
    const double x1 = std::max(region.maxX(), f.maxX()), y1 = std::max(region.maxY(), f.maxY());
    region = {x0, y0, x1 - x0, y1 - y0};
  }
  return region;
}

bool CaptureGeometry::aspectMatches(double width, double height, const Rect& rect) {
  if (!(rect.width > 0) || !(rect.height > 0) || !(width >= 1) || !(height >= 1)) return false;
  const double a = rect.width / rect.height;
  return std::fabs(width / height - a) <= a * 0.02;
}

std::optional<PixelRegion> CaptureGeometry::pixelExtent(double width, double height, const Rect& unit) {
  if (!(width >= 1) || !(height >= 1) || !(unit.width > 0) || !(unit.height > 0)) return std::nullopt;
  const double x = std::floor(unit.minX() * width), y = std::floor(unit.minY() * height);
  const double w = std::round(unit.width * width), h = std::round(unit.height * height);
  if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(w) || !std::isfinite(h)) return std::nullopt;
  if (w < 8 || h < 8 || x < 0 || y < 0 || x + w > width || y + h > height) return std::nullopt;
  return PixelRegion{static_cast<int64_t>(x), static_cast<int64_t>(y), static_cast<int64_t>(w),
                     static_cast<int64_t>(h)};
}

}  // namespace quorvel
