#include "overlay/OverlayChromePainter.h"

#include <algorithm>
#include <cmath>
#include <functional>

#include "overlay/OverlayContentView.h"

namespace quorvel {

namespace {

Rect scaled(const Rect& r, double s) { return {r.x * s, r.y * s, r.width * s, r.height * s}; }

Rect offset(const Rect& r, Point by) { return {r.x + by.x, r.y + by.y, r.width, r.height}; }

TextLine line(const CapsuleText& text, double scale, RasterColor color) {
  FontWeight weight = text.font.weight;
  return TextLine{text.text, text.font.size * scale, weight, color};
}

// The magnifying glass of the search capsule: a ring and a handle towards the bottom right.
const SymbolGlyph& magnifyingGlass() {
  static const SymbolGlyph glyph = [] {
    SymbolGlyph g;
    g.name = "magnifyingglass";
    g.width = 1;
    g.height = 1;
    VectorPath ring;
    ring.addEllipse({0.08, 0.08, 0.66, 0.66});
    VectorPath handle;
    handle.moveTo({0.64, 0.64}).lineTo({0.92, 0.92});
    g.elements.push_back({SymbolGlyph::Element::Kind::stroke, ring, 0.12, LineCap::round});
    g.elements.push_back({SymbolGlyph::Element::Kind::stroke, handle, 0.14, LineCap::round});
    return g;
  }();
  return glyph;
}

}  // namespace

// One drawing of the chrome and the pixels it can touch (none: nothing that is shown).
struct OverlayChromePainter::Stroke {
  std::function<void(RasterCanvas&)> draw;
  RasterRegion extent;
};

// The chrome's drawings in order, with the pixels each can touch, added to the painted regions too.
class OverlayChromePainter::Strokes {
 public:
  explicit Strokes(RasterRegions& painted) : painted_(painted) {}
  void draw(std::function<void(RasterCanvas&)> drawing) { list.push_back({std::move(drawing), {}}); }
  // The pixels the last drawing can touch: `rect` in canvas coordinates, as RasterRegions::addCanvasRect.
  void touches(const Rect& rect, double margin = 0) {
    painted_.addCanvasRect(rect, margin);
    RasterRegions own(painted_.width(), painted_.height());
    own.addCanvasRect(rect, margin);
    for (const RasterRegion& r : own.rects()) {
      RasterRegion& extent = list.back().extent;
      extent = extent.isEmpty() ? r : extent.united(r);
    }
  }
  std::vector<Stroke> list;

 private:
  RasterRegions& painted_;
};

namespace {

// Drawing meant for one rectangle of a bitmap `height` pixels high (`from`, rows from the top), done
// into its place in another canvas (`to`, in a bitmap `toHeight` high) and kept inside it.
class PieceCanvas final : public RasterCanvas {
 public:
  PieceCanvas(RasterCanvas& inner, const RasterRegion& from, int height, const RasterRegion& to, int toHeight)
      : inner_(inner),
        dx_(to.x - from.x),
        dy_(toHeight - height + from.y - to.y),
        slot_{static_cast<double>(to.x), static_cast<double>(toHeight - to.y - to.height),
              static_cast<double>(to.width), static_cast<double>(to.height)} {
    inner_.setClip(slot_);
  }
  ~PieceCanvas() override { inner_.setClip(std::nullopt); }

  void fillRoundedRect(const Rect& rect, double radius, RasterColor color) override {
    inner_.fillRoundedRect(moved(rect), radius, color);
  }
  void fillEllipse(const Rect& rect, RasterColor color) override { inner_.fillEllipse(moved(rect), color); }
  void strokeEllipse(const Rect& rect, double lineWidth, RasterColor color) override {
    inner_.strokeEllipse(moved(rect), lineWidth, color);
  }
  void strokePath(const VectorPath& path, double lineWidth, LineCap cap, RasterColor color) override {
    VectorPath shifted;
    for (const VectorPath::Element& e : path.elements()) {
      using Kind = VectorPath::Element::Kind;
      if (e.kind == Kind::moveTo) shifted.moveTo(moved(e.to));
      if (e.kind == Kind::lineTo) shifted.lineTo(moved(e.to));
      if (e.kind == Kind::curveTo) shifted.curveTo(moved(e.control1), moved(e.control2), moved(e.to));
      if (e.kind == Kind::close) shifted.close();
    }
    inner_.strokePath(shifted, lineWidth, cap, color);
  }
  void drawText(const TextBlock& text, const Rect& rect) override { inner_.drawText(text, moved(rect)); }
  void drawImage(const RasterBitmap& image, const Rect& rect) override { inner_.drawImage(image, moved(rect)); }
  void drawSymbol(const SymbolGlyph& symbol, double pointSize, SymbolWeight weight, Point center,
                  RasterColor tint) override {
    inner_.drawSymbol(symbol, pointSize, weight, moved(center), tint);
  }
  void setClip(const std::optional<Rect>& rect) override {
    if (!rect) {
      inner_.setClip(slot_);
      return;
    }
    const Rect r = moved(*rect);
    inner_.setClip(r.intersects(slot_) ? r.intersection(slot_) : Rect{slot_.x, slot_.y, 0, 0});
  }

 private:
  Rect moved(const Rect& r) const { return {r.x + dx_, r.y + dy_, r.width, r.height}; }
  Point moved(Point p) const { return {p.x + dx_, p.y + dy_}; }

  RasterCanvas& inner_;
  const double dx_, dy_;
  const Rect slot_;
};

}  // namespace

RasterColor OverlayChromePainter::textColor(ChromeTextColor role, double alpha) {
  switch (role) {
    case ChromeTextColor::label:
      return RasterColor::white(0.85 * alpha);
    case ChromeTextColor::secondaryLabel:
      return RasterColor::white(0.55 * alpha);
    case ChromeTextColor::tertiaryLabel:
      return RasterColor::white(0.25 * alpha);
  }
  return RasterColor::white(alpha);
}

namespace {

double linear(double channel) {
  const double c = std::clamp(channel, 0.0, 1.0);
  return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

double luminance(const RasterColor& c) {
  return 0.2126 * linear(c.red) + 0.7152 * linear(c.green) + 0.0722 * linear(c.blue);
}

// `top` (straight alpha) over the opaque `under`.
RasterColor over(const RasterColor& top, const RasterColor& under) {
  const double a = std::clamp(top.alpha, 0.0, 1.0);
  return {top.red * a + under.red * (1 - a), top.green * a + under.green * (1 - a),
          top.blue * a + under.blue * (1 - a), 1};
}

}  // namespace

double OverlayChromePainter::contrast(const RasterColor& a, const RasterColor& b) {
  const double la = luminance(a), lb = luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

RasterColor OverlayChromePainter::legibleTextColor(ChromeTextColor role, double alpha, const RasterColor& under) {
  const RasterColor design = textColor(role, 1);
  const double a = std::clamp(design.alpha * alpha, 0.0, 1.0);
  if (!(a > 0)) return RasterColor::white(0);
  const double wanted = contrast(over(RasterColor::white(a), kDesignBackdrop), kDesignBackdrop);
  if (contrast(over(RasterColor::white(a), under), under) >= wanted - 1e-9) return RasterColor::white(a);
  // The least opacity of white, and of black, that stands out as much (in steps of 1/256).
  const auto least = [&](const RasterColor& ink) -> std::optional<double> {
    for (int step = 1; step <= 256; ++step) {
      const double opacity = step / 256.0;
      if (contrast(over({ink.red, ink.green, ink.blue, opacity}, under), under) >= wanted) return opacity;
    }
    return std::nullopt;
  };
  const std::optional<double> white = least(RasterColor::white()), black = least(RasterColor::black());
  if (black && (!white || *black < *white)) return RasterColor::black(*black);
  if (white) return RasterColor::white(*white);
  // Nothing reaches it (a mid grey with a demanding text): the stronger of the two, opaque.
  return contrast(RasterColor::black(), under) > contrast(RasterColor::white(), under) ? RasterColor::black()
                                                                                       : RasterColor::white();
}

RasterColor OverlayChromePainter::backdropUnder(const OverlayContentView& view, const Rect& frame, Instant now) {
  const RasterColor clear = backdropColor(view, now);  // premultiplied: over black it is itself
  RasterColor under{clear.red, clear.green, clear.blue, 1};
  const double shown = view.desktopStill.hidden ? 0 : std::clamp(view.desktopStill.alpha.valueAt(now), 0.0, 1.0);
  const DesktopStill* still = view.desktopStillPicture.get();
  const Size size = view.bounds();
  if (!(shown > 0) || !still || !still->isWhole() || !(size.width > 0) || !(size.height > 0)) return under;
  // The frame in the still's pixels (the view's y grows upward, the still's rows downward).
  const auto column = [&](double x) {
    return std::clamp(static_cast<int>(std::floor(x / size.width * still->width)), 0, still->width - 1);
  };
  const auto row = [&](double y) {
    return std::clamp(static_cast<int>(std::floor((size.height - y) / size.height * still->height)), 0,
                      still->height - 1);
  };
  const int x0 = column(frame.x), x1 = column(frame.maxX()), y0 = row(frame.maxY()), y1 = row(frame.y);
  double sum[3] = {0, 0, 0};
  int count = 0;
  for (int y = y0; y <= y1; ++y)
    for (int x = x0; x <= x1; ++x, ++count) {
      const uint32_t p = still->at(x, y);
      sum[0] += (p >> 16) & 0xff;
      sum[1] += (p >> 8) & 0xff;
      sum[2] += p & 0xff;
    }
  const double dim = view.dimView.hidden ? 0 : std::clamp(view.dimView.alpha.valueAt(now), 0.0, 1.0);
  const double k = (1 - dim) / (255.0 * std::max(count, 1));
  return over({sum[0] * k, sum[1] * k, sum[2] * k, shown}, under);
}

RasterColor OverlayChromePainter::backdropColor(const OverlayContentView& view, Instant now) {
  RasterColor out{0, 0, 0, 0};  // premultiplied
  auto over = [&](const OverlayContentView::ChromeLayer& layer, RasterColor colour) {
    if (layer.hidden) return;
    const double a = std::clamp(colour.alpha * layer.alpha.valueAt(now), 0.0, 1.0);
    if (!(a > 0)) return;  // NaN too
    out.red = colour.red * a + out.red * (1 - a);
    out.green = colour.green * a + out.green * (1 - a);
    out.blue = colour.blue * a + out.blue * (1 - a);
    out.alpha = a + out.alpha * (1 - a);
  };
  const AppSettings::Rgb& solid = view.solidBackdrop.color;
  over(view.solidBackdrop, {solid.red, solid.green, solid.blue, 1});
  over(view.backdrop, kPlainBackdrop);
  over(view.dimView, RasterColor::black());
  return out;
}

Rect OverlayChromePainter::textExtent(const TextBlock& block, const Rect& box) {
  const Rect b = box.standardized();
  const Size measured = raster_.measureText(block, b.width);
  const double width = std::max(b.width, measured.width), height = std::max(b.height, measured.height);
  return {b.midX() - width / 2, b.maxY() - height, width, height};
}

void OverlayChromePainter::addText(Strokes& painted, const TextBlock& block, const Rect& box,
                                   const std::optional<Rect>& clip) {
  double fontSize = 0;
  for (const TextLine& l : block.lines) fontSize = std::max(fontSize, l.fontSize);
  // Glyphs may reach past their advance and line box (italic overhangs, accents, antialiasing).
  const double margin = std::ceil(fontSize * 0.25) + 1;
  Rect extent = textExtent(block, box);
  extent = {extent.x - margin, extent.y - margin, extent.width + 2 * margin, extent.height + 2 * margin};
  if (clip) {
    if (!extent.intersects(*clip)) return;
    extent = extent.intersection(*clip);
  }
  painted.touches(extent, clip ? 1 : 0);
}

std::optional<RasterBitmap> OverlayChromePainter::paint(const OverlayContentView& view, double scale, Instant now,
                                                        RasterRegions* painted) {
  return paint(view, scale, now, painted, std::nullopt, RasterRegions{});
}

std::optional<RasterBitmap> OverlayChromePainter::paint(const OverlayContentView& view, double scale, Instant now,
                                                        RasterRegions* painted, std::optional<RasterBitmap> reuse,
                                                        const RasterRegions& reusePainted) {
  const Size size = view.bounds();
  const int width = static_cast<int>(std::lround(size.width * scale));
  const int height = static_cast<int>(std::lround(size.height * scale));
  std::optional<RasterBitmap> bitmap;
  if (reuse && reuse->width() == width && reuse->height() == height) {
    bitmap = std::move(reuse);
    for (const RasterRegion& r : reusePainted.rects()) bitmap->clear(r.x, r.y, r.width, r.height);
  } else {
    bitmap = RasterBitmap::make(width, height);
  }
  if (!bitmap) return std::nullopt;
  RasterRegions regions(bitmap->width(), bitmap->height());
  const std::vector<Stroke> drawn = strokes(view, scale, now, regions);
  {
    auto canvas = raster_.beginDrawing(*bitmap);
    for (const Stroke& stroke : drawn) stroke.draw(*canvas);
  }
  if (painted) *painted = std::move(regions);
  return bitmap;
}

std::optional<RasterSheet> OverlayChromePainter::paintSheet(const OverlayContentView& view, double scale, Instant now,
                                                            std::optional<RasterBitmap> reuse) {
  const Size size = view.bounds();
  const double w = std::round(size.width * scale), h = std::round(size.height * scale);
  if (!(w >= 1 && w <= RasterBitmap::kMaxSide && h >= 1 && h <= RasterBitmap::kMaxSide)) return std::nullopt;
  const int width = static_cast<int>(w), height = static_cast<int>(h);
  RasterRegions regions(width, height);
  const std::vector<Stroke> drawn = strokes(view, scale, now, regions);
  const std::vector<RasterRegion> places = RasterSheet::places(regions);
  int sheetWidth = 1, sheetHeight = 1;
  for (const RasterRegion& p : places) {
    sheetWidth = std::max(sheetWidth, p.width);
    sheetHeight = std::max(sheetHeight, p.maxY());
  }
  // A little larger than asked for, so that the next chrome (a longer query, a fade) usually fits
  // the same bitmap.
  const auto roundUp = [](int v) { return std::min((v + 63) / 64 * 64, RasterBitmap::kMaxSide); };
  std::optional<RasterBitmap> sheet;
  if (reuse && reuse->width() >= sheetWidth && reuse->height() >= sheetHeight &&
      reuse->byteCount() <= 16 * static_cast<size_t>(roundUp(sheetWidth)) * roundUp(sheetHeight)) {
    sheet = std::move(reuse);
    sheet->clear(0, 0, sheet->width(), sheet->height());
  } else {
    sheet = RasterBitmap::make(roundUp(sheetWidth), roundUp(sheetHeight));
  }
  if (!sheet) return std::nullopt;
  {
    auto canvas = raster_.beginDrawing(*sheet);
    for (size_t i = 0; i < places.size(); ++i) {
      const RasterRegion& region = regions.rects()[i];
      PieceCanvas piece(*canvas, region, height, places[i], sheet->height());
      for (const Stroke& stroke : drawn)
        if (stroke.extent.overlaps(region)) stroke.draw(piece);
    }
  }
  return RasterSheet{std::move(*sheet), std::move(regions)};
}

std::vector<OverlayChromePainter::Stroke> OverlayChromePainter::strokes(const OverlayContentView& view, double scale,
                                                                        Instant now, RasterRegions& painted) {
  Strokes strokes(painted);
  for (const GlassCapsule* capsule : {&view.titleCapsule, &view.searchCapsule, &view.emptyCapsule}) {
    paintCapsule(strokes, *capsule, scale, now);
  }
  const auto label = [&](const OverlayContentView::ChromeLabel& l) {
    const double alpha = l.hidden ? 0 : l.alpha.valueAt(now);
    if (alpha <= 0 || l.text.empty()) return;
    // Set straight on the backdrop: legible on whatever colour lies under it.
    // (Worked out for the opacity a fade in ends on, so the colour holds while it runs.)
    const double settled = std::max(l.alpha.target(), alpha);
    RasterColor colour = legibleTextColor(l.text.color, settled, backdropUnder(view, l.frame, now));
    colour.alpha *= std::clamp(alpha / settled, 0.0, 1.0);
    TextBlock block{{line(l.text, scale, colour)}, 0, TextTruncation::tail};
    const Rect box = scaled(l.frame, scale);
    strokes.draw([block, box](RasterCanvas& canvas) { canvas.drawText(block, box); });
    addText(strokes, block, box, std::nullopt);
  };
  label(view.tipLabel);
  label(view.emptyHintLabel);
  if (view.buildBadgeLabel) label(*view.buildBadgeLabel);
  return std::move(strokes.list);
}

void OverlayChromePainter::paintCapsule(Strokes& painted, const GlassCapsule& capsule, double scale, Instant now) {
  const double alpha = capsule.hidden ? 0 : capsule.alpha.valueAt(now);
  if (alpha <= 0 || capsule.frame.isEmpty()) return;
  // The contents scale about the capsule's centre (the idle search pill is drawn at 97 %).
  const double k = capsule.scale();
  // While the capsule glides to a new frame, everything in it moves with the frame shown and the
  // glass takes that frame's size.
  const Rect f = capsule.shownFrame(now);
  const Point shift{f.midX() - capsule.frame.midX(), f.midY() - capsule.frame.midY()};
  const Point centre{f.midX(), f.midY()};
  const auto place = [&](const Rect& local) {
    const Rect inView = offset(local, {capsule.frame.x + shift.x, capsule.frame.y + shift.y});
    return scaled(Rect{centre.x + (inView.x - centre.x) * k, centre.y + (inView.y - centre.y) * k, inView.width * k,
                       inView.height * k},
                  scale);
  };
  const Rect body{f.x + f.width * (1 - k) * 0.5, f.y + f.height * (1 - k) * 0.5, f.width * k, f.height * k};
  const double radius = std::max(0.0, std::min(std::min(body.width, body.height) * 0.5, capsule.cornerRadius() * k));
  RasterColor glass = kGlass;
  glass.alpha *= alpha;
  painted.draw([glass, rect = scaled(body, scale), radius = radius * scale](RasterCanvas& canvas) {
    canvas.fillRoundedRect(rect, radius, glass);
  });
  painted.touches(scaled(body, scale), 1);

  const Point clipOrigin =
      capsule.caretMode() ? Point{capsule.textClipFrame().x, capsule.textClipFrame().y} : Point{0, 0};
  const TextTruncation truncation =
      capsule.truncation == CapsuleTruncation::middle ? TextTruncation::middle : TextTruncation::tail;
  for (const GlassCapsule::Label* l : {&capsule.outgoingLabel(), &capsule.currentLabel()}) {
    const double labelAlpha = l->hidden ? 0 : l->alpha.valueAt(now) * alpha;
    if (labelAlpha <= 0 || l->text.empty() || l->frame.isEmpty()) continue;
    // In caret mode only what lies inside the text area shows (the query scrolled to its caret).
    const std::optional<Rect> clip =
        capsule.caretMode() ? std::optional<Rect>(place(capsule.textClipFrame())) : std::nullopt;
    TextBlock block{{line(l->text, scale * k, textColor(l->text.color, labelAlpha))}, 0, truncation};
    const Rect box = place(offset(l->frame, clipOrigin));
    painted.draw([clip, block, box](RasterCanvas& canvas) {
      if (clip) canvas.setClip(clip);
      canvas.drawText(block, box);
      if (clip) canvas.setClip(std::nullopt);
    });
    addText(painted, block, box, clip);
  }
  if (capsule.caretMode() && !capsule.caretHidden()) {
    const Rect caret = place(offset(capsule.caretFrame(), clipOrigin));
    painted.draw([caret, colour = textColor(ChromeTextColor::label, alpha)](RasterCanvas& canvas) {
      canvas.fillRoundedRect(caret, 0, colour);
    });
    painted.touches(caret, 1);
  }
  if (capsule.glyphVisible && capsule.glyphImage && capsule.glyphSymbol == "magnifyingglass") {
    const Rect g = place(capsule.glyphFrame());
    const double side = capsule.glyphImage->width * scale * k;
    painted.draw([side, centre = Point{g.midX(), g.midY()}, tint = textColor(capsule.glyphTint, alpha)](
                     RasterCanvas& canvas) { canvas.drawSymbol(magnifyingGlass(), side, SymbolWeight::semibold, centre, tint); });
    // The symbol's box; its strokes, widened by the weight, may reach a little past it.
    painted.touches({g.midX() - side / 2, g.midY() - side / 2, side, side}, std::ceil(side * 0.1) + 1);
  }
}

}  // namespace quorvel
