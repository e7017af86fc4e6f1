#pragma once

#include <algorithm>
#include <cstdint>

#include "base/Geometry.h"

namespace quorvel {

// A rectangle in whole pixels: x and y of the top-left corner, y growing downward.
struct X11Rect {
  int32_t x = 0;
  int32_t y = 0;
  int32_t width = 0;
  int32_t height = 0;

  int32_t right() const { return x + width; }
  int32_t bottom() const { return y + height; }
  bool isEmpty() const { return width <= 0 || height <= 0; }

  // The overlap of two rectangles; empty (zero size at this rectangle's origin) when they do not meet.
  X11Rect intersection(const X11Rect& other) const {
    const int32_t left = std::max(x, other.x);
    const int32_t top = std::max(y, other.y);
    const int32_t r = std::min(right(), other.right());
    const int32_t b = std::min(bottom(), other.bottom());
    if (r <= left || b <= top) return X11Rect{x, y, 0, 0};
    return X11Rect{left, top, r - left, b - top};
  }
  bool intersects(const X11Rect& other) const { return !intersection(other).isEmpty(); }
  X11Rect offsetBy(int32_t dx, int32_t dy) const { return X11Rect{x + dx, y + dy, width, height}; }

  // The same rectangle in the core's floating-point geometry (same origin, same y direction).
  Rect toRect() const { return Rect{double(x), double(y), double(width), double(height)}; }

  friend bool operator==(const X11Rect&, const X11Rect&) = default;
};

}  // namespace quorvel
