#pragma once

#include <algorithm>
#include <cmath>

namespace quorvel {

struct Point {
  double x = 0, y = 0;
  bool operator==(const Point&) const = default;
};

struct Size {
  double width = 0, height = 0;
  bool operator==(const Size&) const = default;
};

// A rectangle in points. Global frames use the top-left of the main display as origin, y down,
// unless a comment says otherwise (screen frames as the display service reports them use the
// bottom-left origin of the main display, y up).
struct Rect {
  double x = 0, y = 0, width = 0, height = 0;

  bool operator==(const Rect&) const = default;
  double minX() const { return std::min(x, x + width); }
  double minY() const { return std::min(y, y + height); }
  double maxX() const { return std::max(x, x + width); }
  double maxY() const { return std::max(y, y + height); }
  double midX() const { return (minX() + maxX()) / 2; }
  double midY() const { return (minY() + maxY()) / 2; }
  Point center() const { return {midX(), midY()}; }
  // Positive width and height.
  Rect standardized() const { return {minX(), minY(), std::fabs(width), std::fabs(height)}; }
  bool isEmpty() const { return !(std::fabs(width) > 0) || !(std::fabs(height) > 0); }
  bool containsPoint(Point p) const {
    return p.x >= minX() && p.x < maxX() && p.y >= minY() && p.y < maxY();
  }
  bool containsRect(const Rect& r) const {
    return r.minX() >= minX() && r.maxX() <= maxX() && r.minY() >= minY() && r.maxY() <= maxY();
  }
  // The overlap of two rectangles; none when they do not overlap (touching edges give a
  // zero-sized rectangle).
  bool intersects(const Rect& r) const {
    return std::max(minX(), r.minX()) <= std::min(maxX(), r.maxX()) &&
           std::max(minY(), r.minY()) <= std::min(maxY(), r.maxY());
  }
  Rect intersection(const Rect& r) const {
    const double x0 = std::max(minX(), r.minX()), x1 = std::min(maxX(), r.maxX());
    const double y0 = std::max(minY(), r.minY()), y1 = std::min(maxY(), r.maxY());
    if (x1 < x0 || y1 < y0) return Rect{INFINITY, INFINITY, 0, 0};
    return {x0, y0, x1 - x0, y1 - y0};
  }
  // The "null" rectangle that intersection() gives for disjoint rectangles.
  bool isNull() const { return std::isinf(x) || std::isinf(y); }
};

}  // namespace quorvel
