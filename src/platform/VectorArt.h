#pragma once

#include <string>
#include <vector>

#include "base/Geometry.h"

namespace quorvel {

// A path of straight and cubic segments, in whatever coordinates its user gives (see RasterCanvas
// and SymbolGlyph). A plain value.
class VectorPath {
 public:
  struct Element {
    enum class Kind { moveTo, lineTo, curveTo, close } kind;
    // moveTo and lineTo use `to`; curveTo uses both controls and `to`; close none.
    Point control1, control2, to;
    bool operator==(const Element&) const = default;
  };

  VectorPath& moveTo(Point p);
  VectorPath& lineTo(Point p);
  VectorPath& curveTo(Point control1, Point control2, Point to);
  VectorPath& close();
  // Closed sub-paths: the ellipse inscribed in `r`; a rectangle with rounded corners (the radius
  // is clamped to half the shorter side).
  VectorPath& addEllipse(const Rect& r);
  VectorPath& addRoundedRect(const Rect& r, double radius);

  const std::vector<Element>& elements() const { return elements_; }
  bool empty() const { return elements_.empty(); }

 private:
  std::vector<Element> elements_;
};

enum class LineCap { butt, round };

// The weight a symbol is drawn in: it thickens its strokes as a font weight thickens letters.
enum class SymbolWeight { regular, medium, semibold, bold };

// A monochrome symbol drawn as our own vector art. Its box is `width` × `height` in ems (a symbol
// drawn at point size P is width × P by height × P pixels); element coordinates are in ems from
// the box's top-left corner, y growing downward. Elements are painted in order into a layer of
// their own: `fill` and `fillEvenOdd` cover their path, `stroke` strokes it with `lineWidth` ems
// (times the weight's stroke scale), and the two `clear` kinds erase what earlier elements painted
// (the gap around a slash or a badge). The layer is then tinted and laid over the picture.
struct SymbolGlyph {
  struct Element {
    enum class Kind { fill, fillEvenOdd, stroke, clearFill, clearStroke } kind;
    VectorPath path;
    double lineWidth = 0;  // ems, for the two stroke kinds
    LineCap cap = LineCap::round;
  };

  std::string name;
  double width = 1;
  double height = 1;
  std::vector<Element> elements;

  // How much a weight thickens strokes (regular 1.0).
  static double strokeScale(SymbolWeight weight);
};

}  // namespace quorvel
