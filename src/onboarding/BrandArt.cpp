#include "onboarding/BrandArt.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QIcon>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <algorithm>

#include "onboarding/Brand.h"

namespace quorvel {

namespace {

using Brand::withOpacity;

// Draws in design units; widths are given in screen pixels and divided by the scale.
struct Canvas {
  QPainter& p;
  double scale;

  QPen pen(const QColor& color, double width, Qt::PenCapStyle cap = Qt::RoundCap,
           Qt::PenJoinStyle join = Qt::RoundJoin) const {
    QPen result(color, width / scale);
    result.setCapStyle(cap);
    result.setJoinStyle(join);
    result.setMiterLimit(10);
    return result;
  }
  void line(QPointF a, QPointF b, const QColor& color, double width) {
    p.setPen(pen(color, width));
    p.drawLine(a, b);
  }
  void gradientLine(QPointF a, QPointF b, const QColor& middle, double width) {
    QLinearGradient gradient(a, b);
    gradient.setColorAt(0, withOpacity(middle, 0));
    gradient.setColorAt(0.5, middle);
    gradient.setColorAt(1, withOpacity(middle, 0));
    QPen stroke(QBrush(gradient), width / scale);
    stroke.setCapStyle(Qt::RoundCap);
    p.setPen(stroke);
    p.drawLine(a, b);
  }
  void rounded(const QRectF& r, double radius, const QBrush& fill, const QColor& border, double width) {
    p.setBrush(fill);
    if (width > 0) {
      p.setPen(pen(border, width));
    } else {
      p.setPen(Qt::NoPen);
    }
    p.drawRoundedRect(r, radius, radius);
  }
  void circle(const QRectF& r, const QBrush& fill, const QColor& border, double width) {
    p.setBrush(fill);
    if (width > 0) {
      p.setPen(pen(border, width));
    } else {
      p.setPen(Qt::NoPen);
    }
    p.drawEllipse(r);
  }
  // A window's title bar: a line 9 below the top and three small buttons at its right end.
  void chrome(const QRectF& w, const QColor& color, double width) {
    line({w.left(), w.top() + 9}, {w.right(), w.top() + 9}, color, width);
    for (double fromRight : {7.0, 13.0, 19.0}) {
      circle(QRectF(w.right() - fromRight - 1.5, w.top() + 4.6 - 1.5, 3, 3), Qt::NoBrush, color, width);
    }
  }
  void textLines(const QRectF& w, const QColor& color, double width) {
    line({w.left() + 8, w.top() + 18}, {w.right() - 8, w.top() + 18}, color, width);
    line({w.left() + 8, w.top() + 25}, {w.right() - 8, w.top() + 25}, color, width);
    line({w.left() + 8, w.top() + 32}, {w.right() - 18, w.top() + 32}, color, width);
  }
};

void drawArrivalCanvas(Canvas& c) {
  struct Faint {
    QRectF rect;
    double strength;
  };
  for (const Faint& w : {Faint{{62, 28, 48, 70}, 0.85}, Faint{{14, 40, 42, 52}, 0.42}, Faint{{210, 28, 48, 70}, 0.85},
                         Faint{{264, 40, 42, 52}, 0.42}}) {
    c.rounded(w.rect, 5, withOpacity(Brand::accent(), 0.05 * w.strength), withOpacity(Brand::inkSoft(), w.strength),
              1.15);
    c.line({w.rect.left(), w.rect.top() + 9}, {w.rect.right(), w.rect.top() + 9},
           withOpacity(Brand::inkFaint(), w.strength), 1.15);
  }
  c.gradientLine({18, 112}, {302, 112}, withOpacity(Brand::accent(), 0.55), 1.6);
}

void drawCapture(Canvas& c) {
  for (const QRectF w : {QRectF(30, 12, 72, 46), QRectF(138, 12, 72, 46)}) {
    c.rounded(w, 5, Qt::NoBrush, Brand::inkSoft(), 1.15);
    c.chrome(w, Brand::inkFaint(), 1.15);
    c.textLines(w, withOpacity(Brand::inkFaint(), 0.75), 1.15);
  }
  QPen dashed = c.pen(withOpacity(Brand::accent(), 0.5), 1.15, Qt::RoundCap, Qt::MiterJoin);
  // Dash lengths are in pen widths: 1.5 on and 4 off, in screen pixels.
  dashed.setDashPattern({1.5 / 1.15, 4 / 1.15});
  c.p.setPen(dashed);
  c.p.drawLine(QPointF(76, 62), QPointF(110, 82));
  c.p.drawLine(QPointF(164, 62), QPointF(130, 82));
  c.circle({104, 84, 32, 32}, withOpacity(Brand::accent(), 0.1), Brand::accent(), 1.6);
  c.circle({114, 94, 12, 12}, Qt::NoBrush, Brand::accent(), 1.6);
}

void drawShortcut(Canvas& c, const QStringList& keys) {
  // The caps of the shortcut's keys: the modifiers quiet, the key itself in the accent.
  const BrandArt::Keycaps caps = BrandArt::keycaps(keys);
  c.p.setFont(Brand::systemFont(caps.fontSize, QFont::Medium));
  for (size_t i = 0; i < caps.frames.size(); ++i) {
    const bool key = i + 1 == caps.frames.size();
    const QRectF& frame = caps.frames[i];
    c.rounded(frame, 7, withOpacity(Brand::accent(), key ? 0.12 : 0.06), key ? Brand::accent() : Brand::inkSoft(),
              key ? 1.6 : 1.15);
    c.p.setPen(key ? Brand::accent() : Brand::inkSoft());
    c.p.drawText(frame, Qt::AlignCenter, keys[int(i)]);
  }
  QPainterPath arrow;
  arrow.moveTo(104, 62);
  arrow.quadTo(122, 66, 140, 44);
  arrow.moveTo(132, 41);
  arrow.lineTo(141, 44);
  arrow.lineTo(137, 52);
  c.p.setPen(c.pen(Brand::accent(), 1.6));
  c.p.setBrush(Qt::NoBrush);
  c.p.drawPath(arrow);
  c.rounded({168, 14, 60, 38}, 5, Brand::ground(), Brand::line(), 1.15);
  c.rounded({158, 26, 60, 38}, 5, Brand::ground(), Brand::line(), 1.15);
  const QRectF front(146, 54, 72, 46);
  c.rounded(front, 5, withOpacity(Brand::accent(), 0.08), Brand::accent(), 1.6);
  c.chrome(front, withOpacity(Brand::accent(), 0.6), 1.15);
  c.textLines(front, withOpacity(Brand::accent(), 0.45), 1.15);
}

void drawSettingsRows(Canvas& c, std::array<bool, 2> switchesOn) {
  c.rounded({18, 12, 204, 104}, 8, withOpacity(Brand::ground(), 0.6), Brand::line(), 1.15);
  c.line({34, 30}, {82, 30}, withOpacity(Brand::ink(), 0.7), 1.6);
  c.line({34, 42}, {206, 42}, Brand::line(), 1.15);
  const struct {
    double y, end;
    bool on;
  } rows[] = {{58.0, 118.0, switchesOn[0]}, {90.0, 104.0, switchesOn[1]}};
  for (const auto& [y, end, on] : rows) {
    c.line({34, y}, {end, y}, Brand::inkSoft(), 1.15);
    const QRectF capsule(160, y - 10, 42, 20);
    if (on) {
      c.rounded(capsule, 10, Brand::accent(), Brand::accent(), 1.15);
      c.circle({capsule.right() - 10 - 7, y - 7, 14, 14}, Brand::onAccent(), {}, 0);
    } else {
      c.rounded(capsule, 10, Brand::surfaceRaised(), Brand::line(), 1.15);
      c.circle({capsule.left() + 10 - 7, y - 7, 14, 14}, Brand::inkSoft(), {}, 0);
    }
  }
}

void drawSearch(Canvas& c) {
  c.rounded({26, 12, 188, 28}, 14, withOpacity(Brand::accent(), 0.08), Brand::accent(), 1.6);
  c.circle({40, 20, 12, 12}, Qt::NoBrush, Brand::accent(), 1.15);
  c.line({50.5, 30.5}, {55, 35}, Brand::accent(), 1.15);
  c.line({64, 26}, {96, 26}, withOpacity(Brand::accent(), 0.7), 1.6);
  for (double y : {54.0, 80.0, 106.0}) {
    if (y == 54.0) {
      c.rounded({26, y - 10, 188, 20}, 6, withOpacity(Brand::accent(), 0.16), Brand::accent(), 1.15);
      c.rounded({36, y - 6, 12, 12}, 2, Qt::NoBrush, Brand::accent(), 1.15);
      c.line({58, y}, {146, y}, withOpacity(Brand::accent(), 0.9), 1.15);
    } else {
      c.rounded({36, y - 6, 12, 8}, 2, Qt::NoBrush, Brand::inkSoft(), 1.15);
      c.line({34, y + 6}, {50, y + 6}, Brand::inkSoft(), 1.15);
      c.line({58, y}, {y == 80.0 ? 172.0 : 146.0, y}, withOpacity(Brand::inkSoft(), 0.7), 1.15);
    }
  }
}

// The desktop's panel with the program's tray icon, its menu open.
void drawMenuBar(Canvas& c) {
  c.rounded({12, 10, 216, 20}, 5, withOpacity(Brand::surfaceRaised(), 0.7), Brand::line(), 1.15);
  for (double x = 120; x < 156; x += 18) {
    c.line({x, 16}, {x + 8, 16}, withOpacity(Brand::inkFaint(), 0.7), 1.15);
    c.line({x, 24}, {x + 8, 24}, withOpacity(Brand::inkFaint(), 0.7), 1.15);
  }
  c.rounded({178, 13, 15, 14}, 3, withOpacity(Brand::accent(), 0.2), Brand::accent(), 1.15);
  c.rounded({146, 38, 82, 76}, 7, Brand::surface(), Brand::accentMuted(), 1.15);
  for (double y : {52.0, 68.0, 84.0}) c.line({158, y}, {214, y}, y == 68.0 ? Brand::accent() : Brand::inkSoft(), 1.15);
  c.line({158, 100}, {196, 100}, Brand::inkSoft(), 1.15);
  QPainterPath pointer;
  pointer.moveTo(184, 22);
  pointer.lineTo(184, 46);
  pointer.lineTo(191, 39);
  pointer.lineTo(200, 39);
  pointer.closeSubpath();
  c.p.setBrush(withOpacity(Brand::ink(), 0.9));
  c.p.setPen(c.pen(Brand::ground(), 1.15));
  c.p.drawPath(pointer);
}

void drawDone(Canvas& c) {
  c.rounded({92, 16, 56, 56}, 16, withOpacity(Brand::accent(), 0.14), Brand::accent(), 1.6);
  QPainterPath tick;
  tick.moveTo(106, 44);
  tick.lineTo(116, 55);
  tick.lineTo(135, 32);
  c.p.setBrush(Qt::NoBrush);
  c.p.setPen(c.pen(Brand::accent(), 2.4));
  c.p.drawPath(tick);
  c.gradientLine({30, 92}, {210, 92}, withOpacity(Brand::accent(), 0.5), 1.6);
}

}  // namespace

BrandArt::BrandArt(Scene scene, std::array<bool, 2> switchesOn, QWidget* parent)
    : QWidget(parent), scene_(scene), switchesOn_(switchesOn) {
  setAttribute(Qt::WA_TranslucentBackground);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
}

void BrandArt::setKeys(const QStringList& keys) {
  keys_ = keys.isEmpty() ? QStringList{"Alt", "Tab"} : keys;
  update();
}

BrandArt::Keycaps BrandArt::keycaps(const QStringList& keys) {
  // Two caps 40 wide, 6 apart, end at 98, where the arrow begins; a longer name widens its cap.
  // More keys take tighter caps, from 4 on, and caps that still would not fit are narrowed, with
  // their labels, until they do.
  constexpr double right = 98, gap = 6, top = 52, height = 32;
  const bool few = keys.size() <= 2;
  const double left = few ? 12 : 4, padding = few ? 16 : 10, minimum = few ? 40 : 28;
  const QFontMetricsF metrics(Brand::systemFont(12, QFont::Medium));
  const double gaps = gap * std::max<qsizetype>(0, keys.size() - 1);
  std::vector<double> widths;
  double capsWidth = 0;
  for (const QString& key : keys) {
    widths.push_back(std::max(minimum, metrics.horizontalAdvance(key) + padding));
    capsWidth += widths.back();
  }
  const double room = right - left;
  const double shrink = capsWidth + gaps > room ? (room - gaps) / capsWidth : 1.0;
  Keycaps caps;
  caps.fontSize = 12 * shrink;
  double x = right - (capsWidth * shrink + gaps);
  for (double width : widths) {
    caps.frames.emplace_back(x, top, width * shrink, height);
    x += width * shrink + gap;
  }
  return caps;
}

double BrandArt::aspect(Scene scene) { return scene == Scene::arrival ? 320.0 / 132.0 : 240.0 / 128.0; }

BrandArt::Fit BrandArt::fit(QSizeF design, QSizeF area) {
  const double scale = std::min(area.width() / design.width(), area.height() / design.height());
  return {scale, QPointF((area.width() - design.width() * scale) / 2, (area.height() - design.height() * scale) / 2)};
}

QSize BrandArt::sizeHint() const { return {300, 156}; }

int BrandArt::heightForWidth(int width) const { return std::min(156, int(width / aspect(scene_))); }

void BrandArt::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QSizeF design = scene_ == Scene::arrival ? QSizeF(320, 132) : QSizeF(240, 128);
  const Fit placed = fit(design, size());
  if (placed.scale <= 0) return;
  painter.save();
  painter.translate(placed.offset);
  painter.scale(placed.scale, placed.scale);
  Canvas canvas{painter, placed.scale};
  switch (scene_) {
    case Scene::arrival: drawArrivalCanvas(canvas); break;
    case Scene::capture: drawCapture(canvas); break;
    case Scene::shortcut: drawShortcut(canvas, keys_); break;
    case Scene::settingsRows: drawSettingsRows(canvas, switchesOn_); break;
    case Scene::search: drawSearch(canvas); break;
    case Scene::menuBar: drawMenuBar(canvas); break;
    case Scene::done: drawDone(canvas); break;
  }
  painter.restore();
  if (scene_ != Scene::arrival) return;
  // The glow and the program's icon keep their size whatever the scale.
  const QPointF centre = rect().center();
  QRadialGradient glow(centre, 80);
  glow.setColorAt(0, withOpacity(Brand::accent(), 0.3));
  glow.setColorAt(1, withOpacity(Brand::accent(), 0));
  painter.setPen(Qt::NoPen);
  painter.setBrush(glow);
  painter.drawEllipse(centre, 84, 84);
  const QIcon icon = QApplication::windowIcon();
  if (!icon.isNull()) {
    const QRect frame(int(centre.x()) - 48, int(centre.y()) - 48, 96, 96);
    icon.paint(&painter, frame, Qt::AlignCenter);
  }
}

std::optional<BrandGlyphView::Glyph> BrandGlyphView::glyphFromRaw(std::string_view raw) {
  if (raw == "windows") return Glyph::windows;
  if (raw == "search") return Glyph::search;
  if (raw == "swap") return Glyph::swap;
  if (raw == "key") return Glyph::key;
  return std::nullopt;
}

BrandGlyphView::BrandGlyphView(Glyph glyph, int size, QWidget* parent) : QWidget(parent), glyph_(glyph) {
  setFixedSize(size, size);
}

void BrandGlyphView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const double scale = width() / 20.0;
  painter.scale(scale, scale);
  QPen pen(Brand::accent(), 1.35);
  pen.setCapStyle(Qt::RoundCap);
  pen.setJoinStyle(Qt::RoundJoin);
  painter.setPen(pen);
  painter.setBrush(Qt::NoBrush);
  QPainterPath path;
  switch (glyph_) {
    case Glyph::windows:
      path.addRoundedRect(QRectF(2.5, 4.5, 10, 8), 1.5, 1.5);
      path.addRoundedRect(QRectF(7.5, 7.5, 10, 8), 1.5, 1.5);
      break;
    case Glyph::search:
      path.addEllipse(QRectF(3.4, 3.4, 10.4, 10.4));
      path.moveTo(12.4, 12.4);
      path.lineTo(16.6, 16.6);
      break;
    case Glyph::swap:
      path.moveTo(3.5, 7.4);
      path.lineTo(15.2, 7.4);
      path.moveTo(12.4, 4.6);
      path.lineTo(15.2, 7.4);
      path.lineTo(12.4, 10.2);
      path.moveTo(16.5, 12.6);
      path.lineTo(4.8, 12.6);
      path.moveTo(7.6, 9.8);
      path.lineTo(4.8, 12.6);
      path.lineTo(7.6, 15.4);
      break;
    case Glyph::key:
      path.addRoundedRect(QRectF(2.8, 4.4, 14.4, 11.2), 2.4, 2.4);
      path.moveTo(7.6, 12.4);
      path.lineTo(10, 7.4);
      path.lineTo(12.4, 12.4);
      path.moveTo(8.5, 10.7);
      path.lineTo(11.5, 10.7);
      break;
  }
  painter.drawPath(path);
}

}  // namespace quorvel
