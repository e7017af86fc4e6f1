#include "platform/VectorArt.h"

#include <algorithm>

namespace quorvel {

VectorPath& VectorPath::moveTo(Point p) {
  elements_.push_back({Element::Kind::moveTo, {}, {}, p});
  return *this;
}

VectorPath& VectorPath::lineTo(Point p) {
  elements_.push_back({Element::Kind::lineTo, {}, {}, p});
  return *this;
}

VectorPath& VectorPath::curveTo(Point control1, Point control2, Point to) {
  elements_.push_back({Element::Kind::curveTo, control1, control2, to});
  return *this;
}

VectorPath& VectorPath::close() {
  elements_.push_back({Element::Kind::close, {}, {}, {}});
  return *this;
}

VectorPath& VectorPath::addEllipse(const Rect& r) {
  // Four cubic quarter arcs; 0.5523 is the control distance of a circle's quarter.
  const Rect s = r.standardized();
  const double k = 0.5522847498;
  const double cx = s.midX(), cy = s.midY(), rx = s.width / 2, ry = s.height / 2;
  moveTo({cx + rx, cy});
  curveTo({cx + rx, cy + ry * k}, {cx + rx * k, cy + ry}, {cx, cy + ry});
  curveTo({cx - rx * k, cy + ry}, {cx - rx, cy + ry * k}, {cx - rx, cy});
  curveTo({cx - rx, cy - ry * k}, {cx - rx * k, cy - ry}, {cx, cy - ry});
  curveTo({cx + rx * k, cy - ry}, {cx + rx, cy - ry * k}, {cx + rx, cy});
  return close();
}

VectorPath& VectorPath::addRoundedRect(const Rect& r, double radius) {
  const Rect s = r.standardized();
  const double rr = std::clamp(radius, 0.0, std::min(s.width, s.height) / 2);
  const double k = 0.5522847498 * rr;
  const double x0 = s.minX(), y0 = s.minY(), x1 = s.maxX(), y1 = s.maxY();
  moveTo({x0 + rr, y0});
  lineTo({x1 - rr, y0});
  if (rr > 0) curveTo({x1 - rr + k, y0}, {x1, y0 + rr - k}, {x1, y0 + rr});
  lineTo({x1, y1 - rr});
  if (rr > 0) curveTo({x1, y1 - rr + k}, {x1 - rr + k, y1}, {x1 - rr, y1});
  lineTo({x0 + rr, y1});
  if (rr > 0) curveTo({x0 + rr - k, y1}, {x0, y1 - rr + k}, {x0, y1 - rr});
  lineTo({x0, y0 + rr});
  if (rr > 0) curveTo({x0, y0 + rr - k}, {x0 + rr - k, y0}, {x0 + rr, y0});
  return close();
}

double SymbolGlyph::strokeScale(SymbolWeight weight) {
  switch (weight) {
    case SymbolWeight::regular: return 1.0;
    case SymbolWeight::medium: return 1.12;
    case SymbolWeight::semibold: return 1.25;
    case SymbolWeight::bold: return 1.42;
  }
  return 1.0;
}

}  // namespace quorvel
