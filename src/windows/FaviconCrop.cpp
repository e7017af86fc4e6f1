#include "windows/FaviconCrop.h"

#include <algorithm>

namespace quorvel {

namespace {
constexpr double kSmallestSide = 12;
constexpr double kLargestSide = 20;
constexpr double kTopBandFraction = 0.15;

bool hasArea(const Rect& r) { return r.width > 0 && r.height > 0; }
}  // namespace

std::optional<Rect> faviconCropRect(const Rect& hostFrame, const Rect& iconFrame) {
  if (!hasArea(hostFrame) || !hasArea(iconFrame)) return std::nullopt;
  double side = std::min(iconFrame.width, iconFrame.height);
  if (side <= kSmallestSide) side = kSmallestSide;
  if (side > kLargestSide) side = kLargestSide;
  const Point centre = iconFrame.center();
  const Rect square{centre.x - side / 2, centre.y - side / 2, side, side};
  if (!hostFrame.containsRect(square)) return std::nullopt;
  if (square.midY() > hostFrame.minY() + kTopBandFraction * hostFrame.height) return std::nullopt;
  return Rect{(square.minX() - hostFrame.minX()) / hostFrame.width,
              (square.minY() - hostFrame.minY()) / hostFrame.height, side / hostFrame.width,
              side / hostFrame.height};
}

}  // namespace quorvel
