#include "platform/qt/QtRaster.h"

#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>
#include <cstring>

namespace quorvel {

namespace {

// 72 dots per inch: one point is one pixel.
constexpr int kDotsPerMeter = 2835;

QColor toQColor(const RasterColor& c) {
  auto unit = [](double v) { return std::isfinite(v) ? std::clamp(v, 0.0, 1.0) : 0.0; };
  return QColor::fromRgbF(static_cast<float>(unit(c.red)), static_cast<float>(unit(c.green)),
                          static_cast<float>(unit(c.blue)), static_cast<float>(unit(c.alpha)));
}

QFont fontFor(const TextLine& line) {
  QFont font = QGuiApplication::instance() ? QGuiApplication::font() : QFont();
  font.setPointSizeF(std::max(1.0, line.fontSize));
  switch (line.weight) {
    case FontWeight::regular: font.setWeight(QFont::Normal); break;
    case FontWeight::medium: font.setWeight(QFont::Medium); break;
    case FontWeight::semibold: font.setWeight(QFont::DemiBold); break;
    case FontWeight::bold: font.setWeight(QFont::Bold); break;
  }
  return font;
}

// The paint device measurement uses, at the drawing resolution.
QPaintDevice* measuringDevice() {
  thread_local QImage device = [] {
    QImage image(1, 1, QImage::Format_ARGB32_Premultiplied);
    image.setDotsPerMeterX(kDotsPerMeter);
    image.setDotsPerMeterY(kDotsPerMeter);
    return image;
  }();
  return &device;
}

// One line as it is set in a box `width` wide: its text after truncation and its advance.
struct SetLine {
  QString text;
  double width;
  double ascent;
  double height;  // including the font's leading
};

SetLine setLine(const TextLine& line, TextTruncation truncation, double width, QPaintDevice* device) {
  const QFontMetricsF metrics(fontFor(line), device);
  QString text = QString::fromUtf8(line.text.data(), static_cast<qsizetype>(line.text.size()));
  // A little slack: a box exactly as wide as its measured text must not truncate it.
  if (metrics.horizontalAdvance(text) > width + 0.5) {
    text = metrics.elidedText(text, truncation == TextTruncation::middle ? Qt::ElideMiddle : Qt::ElideRight,
                              std::max(0.0, width));
  }
  return {text, metrics.horizontalAdvance(text), metrics.ascent(), metrics.lineSpacing()};
}

class QtCanvas final : public RasterCanvas {
 public:
  explicit QtCanvas(RasterBitmap& bitmap)
      : image_(bitmap.data(), bitmap.width(), bitmap.height(), static_cast<qsizetype>(bitmap.bytesPerRow()),
               QImage::Format_ARGB32_Premultiplied) {
    image_.setDotsPerMeterX(kDotsPerMeter);
    image_.setDotsPerMeterY(kDotsPerMeter);
    painter_.begin(&image_);
    configure(painter_);
  }
  ~QtCanvas() override { painter_.end(); }

  void fillRoundedRect(const Rect& rect, double radius, RasterColor color) override {
    const QRectF r = flip(rect);
    const double rr = std::clamp(radius, 0.0, std::min(r.width(), r.height()) / 2);
    painter_.setPen(Qt::NoPen);
    painter_.setBrush(toQColor(color));
    if (rr > 0) {
      painter_.drawRoundedRect(r, rr, rr);
    } else {
      painter_.drawRect(r);
    }
  }

  void fillEllipse(const Rect& rect, RasterColor color) override {
    painter_.setPen(Qt::NoPen);
    painter_.setBrush(toQColor(color));
    painter_.drawEllipse(flip(rect));
  }

  void strokeEllipse(const Rect& rect, double lineWidth, RasterColor color) override {
    painter_.setPen(QPen(toQColor(color), lineWidth));
    painter_.setBrush(Qt::NoBrush);
    painter_.drawEllipse(flip(rect));
  }

  void strokePath(const VectorPath& path, double lineWidth, LineCap cap, RasterColor color) override {
    QPainterPath qpath = toQPath(path, [this](Point p) { return QPointF(p.x, image_.height() - p.y); });
    painter_.setPen(QPen(toQColor(color), lineWidth, Qt::SolidLine, cap == LineCap::round ? Qt::RoundCap : Qt::FlatCap,
                         Qt::RoundJoin));
    painter_.setBrush(Qt::NoBrush);
    painter_.drawPath(qpath);
  }

  void setClip(const std::optional<Rect>& rect) override {
    if (rect) {
      painter_.setClipRect(flip(*rect));
    } else {
      painter_.setClipping(false);
    }
  }

  void drawText(const TextBlock& text, const Rect& rect) override {
    const QRectF box = flip(rect);
    double top = box.top();
    for (const TextLine& line : text.lines) {
      const SetLine set = setLine(line, text.truncation, box.width(), &image_);
      painter_.setFont(fontFor(line));
      painter_.setPen(toQColor(line.color));
      const double x = box.left() + (box.width() - set.width) / 2;
      painter_.drawText(QPointF(x, top + set.ascent), set.text);
      top += set.height + text.lineSpacing;
    }
  }

  void drawImage(const RasterBitmap& image, const Rect& rect) override {
    const QImage source(image.data(), image.width(), image.height(), static_cast<qsizetype>(image.bytesPerRow()),
                        QImage::Format_ARGB32_Premultiplied);
    painter_.save();
    painter_.setCompositionMode(QPainter::CompositionMode_Source);
    painter_.drawImage(flip(rect), source, QRectF(0, 0, image.width(), image.height()));
    painter_.restore();
  }

  void drawSymbol(const SymbolGlyph& symbol, double pointSize, SymbolWeight weight, Point center,
                  RasterColor tint) override {
    const double w = symbol.width * pointSize;
    const double h = symbol.height * pointSize;
    const double left = center.x - w / 2;
    const double top = (image_.height() - center.y) - h / 2;
    auto place = [&](Point p) { return QPointF(left + p.x * pointSize, top + p.y * pointSize); };
    // The symbol is painted into a layer of its own, tinted there, then laid over the picture.
    QImage layer(image_.width(), image_.height(), QImage::Format_ARGB32_Premultiplied);
    layer.fill(Qt::transparent);
    {
      QPainter p(&layer);
      configure(p);
      const double strokeScale = SymbolGlyph::strokeScale(weight);
      for (const SymbolGlyph::Element& element : symbol.elements) {
        QPainterPath path = toQPath(element.path, place);
        using Kind = SymbolGlyph::Element::Kind;
        const bool clears = element.kind == Kind::clearFill || element.kind == Kind::clearStroke;
        p.setCompositionMode(clears ? QPainter::CompositionMode_Clear : QPainter::CompositionMode_SourceOver);
        if (element.kind == Kind::stroke || element.kind == Kind::clearStroke) {
          QPen pen(Qt::black, element.lineWidth * pointSize * strokeScale, Qt::SolidLine,
                   element.cap == LineCap::round ? Qt::RoundCap : Qt::FlatCap, Qt::RoundJoin);
          p.strokePath(path, pen);
        } else {
          path.setFillRule(element.kind == Kind::fillEvenOdd ? Qt::OddEvenFill : Qt::WindingFill);
          p.fillPath(path, Qt::black);
        }
      }
      p.setCompositionMode(QPainter::CompositionMode_SourceAtop);
      p.fillRect(layer.rect(), toQColor(tint));
    }
    painter_.save();
    painter_.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter_.drawImage(QPointF(0, 0), layer);
    painter_.restore();
  }

 private:
  static void configure(QPainter& p) {
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setRenderHint(QPainter::TextAntialiasing, true);
    p.setRenderHint(QPainter::SmoothPixmapTransform, true);
  }

  // A rectangle of the canvas (origin bottom-left, y up) in the image's coordinates (y down).
  QRectF flip(const Rect& rect) const {
    const Rect r = rect.standardized();
    return QRectF(r.x, image_.height() - r.y - r.height, r.width, r.height);
  }

  template <class Place>
  static QPainterPath toQPath(const VectorPath& path, Place place) {
    QPainterPath q;
    for (const VectorPath::Element& e : path.elements()) {
      switch (e.kind) {
        case VectorPath::Element::Kind::moveTo: q.moveTo(place(e.to)); break;
        case VectorPath::Element::Kind::lineTo: q.lineTo(place(e.to)); break;
        case VectorPath::Element::Kind::curveTo: q.cubicTo(place(e.control1), place(e.control2), place(e.to)); break;
        case VectorPath::Element::Kind::close: q.closeSubpath(); break;
      }
    }
    return q;
  }

  QImage image_;
  QPainter painter_;
};

}  // namespace

std::unique_ptr<RasterCanvas> QtRaster::beginDrawing(RasterBitmap& bitmap) {
  return std::make_unique<QtCanvas>(bitmap);
}

Size QtRaster::measureText(const TextBlock& text, double maxWidth) {
  double width = 0, height = 0;
  for (size_t i = 0; i < text.lines.size(); ++i) {
    const SetLine set = setLine(text.lines[i], text.truncation, maxWidth, measuringDevice());
    width = std::max(width, set.width);
    height += set.height;
    if (i > 0) height += text.lineSpacing;
  }
  return {width, height};
}

std::optional<RasterBitmap> QtRaster::decodeImage(const std::string& path, int side) {
  if (side <= 0 || side > RasterBitmap::kMaxSide) return std::nullopt;
  QImageReader reader(QString::fromStdString(path));
  const QSize natural = reader.size();
  // Vector images are rendered at the size wanted; pictures are read whole and scaled below.
  if (natural.isValid() && natural.width() > 0 && natural.height() > 0 &&
      reader.format().toLower() == "svg") {
    reader.setScaledSize(natural.scaled(side, side, Qt::KeepAspectRatio));
  }
  QImage image = reader.read();
  if (image.isNull() || image.width() <= 0 || image.height() <= 0) return std::nullopt;
  if (image.width() > side || image.height() > side || (image.width() < side && image.height() < side)) {
    image = image.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  }
  image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  std::optional<RasterBitmap> bitmap = RasterBitmap::make(image.width(), image.height());
  if (!bitmap) return std::nullopt;
  for (int y = 0; y < image.height(); ++y) {
    std::memcpy(bitmap->data() + static_cast<size_t>(y) * bitmap->bytesPerRow(), image.constScanLine(y),
                bitmap->bytesPerRow());
  }
  return bitmap;
}

}  // namespace quorvel
