#include "pictures/SymbolGlyphs.h"

#include <vector>

namespace quorvel {

namespace {

using Kind = SymbolGlyph::Element::Kind;

SymbolGlyph display() {
  SymbolGlyph g{"display", 1.16, 0.96, {}};
  g.elements.push_back({Kind::stroke, VectorPath().addRoundedRect({0.06, 0.05, 1.04, 0.66}, 0.09), 0.075});
  g.elements.push_back({Kind::fill, VectorPath().addRoundedRect({0.5, 0.68, 0.16, 0.18}, 0.01)});
  g.elements.push_back({Kind::stroke, VectorPath().moveTo({0.34, 0.89}).lineTo({0.82, 0.89}), 0.075});
  return g;
}

SymbolGlyph minusCircleFill() {
  SymbolGlyph g{"minus.circle.fill", 1.0, 1.0, {}};
  VectorPath p;
  p.addEllipse({0.02, 0.02, 0.96, 0.96});
  p.addRoundedRect({0.25, 0.445, 0.5, 0.11}, 0.05);
  g.elements.push_back({Kind::fillEvenOdd, p});
  return g;
}

SymbolGlyph eyeSlashFill() {
  SymbolGlyph g{"eye.slash.fill", 1.24, 0.96, {}};
  VectorPath eye;
  eye.moveTo({0.04, 0.48})
      .curveTo({0.22, 0.16}, {0.42, 0.12}, {0.62, 0.12})
      .curveTo({0.82, 0.12}, {1.02, 0.16}, {1.2, 0.48})
      .curveTo({1.02, 0.8}, {0.82, 0.84}, {0.62, 0.84})
      .curveTo({0.42, 0.84}, {0.22, 0.8}, {0.04, 0.48})
      .close();
  eye.addEllipse({0.45, 0.31, 0.34, 0.34});
  g.elements.push_back({Kind::fillEvenOdd, eye});
  const VectorPath slash = VectorPath().moveTo({0.2, 0.04}).lineTo({1.04, 0.92});
  g.elements.push_back({Kind::clearStroke, slash, 0.2});
  g.elements.push_back({Kind::stroke, slash, 0.08});
  return g;
}

SymbolGlyph macwindowBadgePlus() {
  SymbolGlyph g{"macwindow.badge.plus", 1.24, 1.0, {}};
  g.elements.push_back({Kind::stroke, VectorPath().addRoundedRect({0.05, 0.16, 0.86, 0.72}, 0.1), 0.07});
  g.elements.push_back({Kind::stroke, VectorPath().moveTo({0.05, 0.34}).lineTo({0.91, 0.34}), 0.07, LineCap::butt});
  g.elements.push_back({Kind::clearFill, VectorPath().addEllipse({0.66, 0.52, 0.56, 0.56})});
  g.elements.push_back({Kind::fill, VectorPath().addEllipse({0.72, 0.58, 0.44, 0.44})});
  g.elements.push_back({Kind::clearStroke,
                        VectorPath().moveTo({0.94, 0.68}).lineTo({0.94, 0.92}).moveTo({0.82, 0.8}).lineTo({1.06, 0.8}),
                        0.07});
  return g;
}

SymbolGlyph rectangleTopThirdInsetFilled() {
  SymbolGlyph g{"rectangle.topthird.inset.filled", 1.24, 0.96, {}};
  g.elements.push_back({Kind::stroke, VectorPath().addRoundedRect({0.05, 0.06, 1.14, 0.84}, 0.15), 0.07});
  g.elements.push_back({Kind::fill, VectorPath().addRoundedRect({0.17, 0.18, 0.9, 0.22}, 0.05)});
  return g;
}

SymbolGlyph arrowsApart() {
  SymbolGlyph g{"arrow.up.left.and.arrow.down.right", 1.0, 1.0, {}};
  VectorPath p;
  p.moveTo({0.12, 0.12}).lineTo({0.42, 0.42});
  p.moveTo({0.58, 0.58}).lineTo({0.88, 0.88});
  p.moveTo({0.12, 0.46}).lineTo({0.12, 0.12}).lineTo({0.46, 0.12});
  p.moveTo({0.54, 0.88}).lineTo({0.88, 0.88}).lineTo({0.88, 0.54});
  g.elements.push_back({Kind::stroke, p, 0.1});
  return g;
}

const std::vector<SymbolGlyph>& all() {
  static const std::vector<SymbolGlyph> glyphs = {display(), minusCircleFill(), eyeSlashFill(),
                                                  macwindowBadgePlus(), rectangleTopThirdInsetFilled(),
                                                  arrowsApart()};
  return glyphs;
}

}  // namespace

const SymbolGlyph* SymbolGlyphs::named(std::string_view name) {
  for (const SymbolGlyph& g : all()) {
    if (g.name == name) return &g;
  }
  return nullptr;
}

}  // namespace quorvel
