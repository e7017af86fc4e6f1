#include "windows/CaptureGeometry.h"

#include <cmath>

namespace quorvel {

namespace {
constexpr double kAspectTolerance = 0.02;
constexpr int64_t kSmallestRegion = 8;
}  // namespace

bool CaptureGeometry::aspectMatches(int64_t pixelWidth, int64_t pixelHeight, const Rect& rect) {
  if (!(rect.width > 0) || !(rect.height > 0) || pixelWidth < 1 || pixelHeight < 1) return false;
  const double wanted = rect.width / rect.height;
  const double actual = static_cast<double>(pixelWidth) / static_cast<double>(pixelHeight);
  return std::fabs(actual - wanted) <= kAspectTolerance * wanted;
}

std::optional<CaptureGeometry::Region> CaptureGeometry::pixelExtent(int64_t pixelWidth, int64_t pixelHeight,
                                                                   const Rect& unitRect) {
  if (pixelWidth < 1 || pixelHeight < 1 || !(unitRect.width > 0) || !(unitRect.height > 0)) return std::nullopt;
  const double w = static_cast<double>(pixelWidth);
  const double h = static_cast<double>(pixelHeight);
  const double x = std::floor(unitRect.minX() * w);
  const double y = std::floor(unitRect.minY() * h);
  const double width = std::round(unitRect.width * w);
  const double height = std::round(unitRect.height * h);
  // Checked in floating point first: a rectangle with a non-finite or huge coordinate has no
  // region instead of an undefined integer conversion.
  if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(width) || !std::isfinite(height)) {
    return std::nullopt;
  }
  if (width < kSmallestRegion || height < kSmallestRegion || x < 0 || y < 0 || x + width > w ||
      y + height > h) {
    return std::nullopt;
  }
  return Region{static_cast<int64_t>(x), static_cast<int64_t>(y), 0, static_cast<int64_t>(width),
                static_cast<int64_t>(height), 1};
}

}  // namespace quorvel
