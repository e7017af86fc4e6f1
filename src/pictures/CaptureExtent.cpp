#include "pictures/CaptureExtent.h"

#include <algorithm>
#include <cmath>

namespace quorvel {
namespace {

bool usable(const Rect& r) {
  return std::isfinite(r.x) && std::isfinite(r.y) && std::isfinite(r.width) && std::isfinite(r.height) &&
         r.width > 0 && r.height > 0;
}

}  // namespace

std::optional<CaptureExtent> CaptureExtent::liveCropExtent(const std::optional<Rect>& windowFrame,
                                                           const std::optional<Rect>& region, double unitWidth,
                                                           double unitHeight, const Rect& content) {
  if (!windowFrame || !region || !usable(*windowFrame) || !usable(*region)) return std::nullopt;
  const Rect& f = *windowFrame;
  const Rect& g = *region;
  const double c = content.width / content.height;
  const double r = g.width / g.height;
  const double w = f.width / f.height;
  if (!std::isfinite(c) || !std::isfinite(r) || !std::isfinite(w)) return std::nullopt;
  if (!(std::fabs(c - r) / r > 0.02 && std::fabs(c - w) / w <= 0.02)) return std::nullopt;
  if (g.minX() < f.minX() - 1 || g.minY() < f.minY() - 1 || g.maxX() > f.maxX() + 1 || g.maxY() > f.maxY() + 1)
    return std::nullopt;
  const double x = unitWidth * (g.minX() - f.minX()) / f.width;
  const double y = unitHeight * (g.minY() - f.minY()) / f.height;
  const double cw = unitWidth * g.width / f.width;
  const double ch = unitHeight * g.height / f.height;
  if (!(x >= 0 && y >= 0 && cw >= 0.1 && ch >= 0.1 && x + cw <= 1.005 && y + ch <= 1.005)) return std::nullopt;
  return CaptureExtent{x, y, std::min(cw, 1 - x), std::min(ch, 1 - y)};
}

}  // namespace quorvel
