#include "overlay/qt/QtOverlayTextMetrics.h"

#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QTextBoundaryFinder>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

namespace quorvel {

namespace {

constexpr int kDotsPerMeter = 2835;  // 72 dots per inch

QFont fontFor(const OverlayFont& f) {
  QFont font = QGuiApplication::instance() ? QGuiApplication::font() : QFont();
  font.setPointSizeF(std::max(1.0, f.size));
  switch (f.weight) {
    case FontWeight::regular: font.setWeight(QFont::Normal); break;
    case FontWeight::medium: font.setWeight(QFont::Medium); break;
    case FontWeight::semibold: font.setWeight(QFont::DemiBold); break;
    case FontWeight::bold: font.setWeight(QFont::Bold); break;
  }
  return font;
}

QPaintDevice* device() {
  static QImage image = [] {
    QImage i(1, 1, QImage::Format_ARGB32_Premultiplied);
    i.setDotsPerMeterX(kDotsPerMeter);
    i.setDotsPerMeterY(kDotsPerMeter);
    return i;
  }();
  return &image;
}

QString toQString(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

}  // namespace

Size QtOverlayTextMetrics::measure(std::string_view text, const OverlayFont& font) {
  if (text.empty()) return {0, 0};
  const QFontMetricsF metrics(fontFor(font), device());
  return {metrics.horizontalAdvance(toQString(text)), metrics.height()};
}

OverlayFontMetrics QtOverlayTextMetrics::fontMetrics(const OverlayFont& font) {
  const QFontMetricsF metrics(fontFor(font), device());
  return {metrics.capHeight(), metrics.ascent(), -metrics.descent(), metrics.ascent()};
}

std::vector<double> QtOverlayTextMetrics::caretOffsets(std::string_view text, const OverlayFont& font) {
  std::vector<double> offsets{0.0};
  if (text.empty()) return offsets;
  const QString string = toQString(text);
  QTextLayout layout(string, fontFor(font), device());
  layout.beginLayout();
  QTextLine line = layout.createLine();
  if (!line.isValid()) {
    layout.endLayout();
    return offsets;
  }
  line.setLineWidth(1e7);
  layout.endLayout();
  QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, string);
  graphemes.toStart();
  for (qsizetype at = graphemes.toNextBoundary(); at != -1; at = graphemes.toNextBoundary()) {
    offsets.push_back(line.cursorToX(static_cast<int>(at)));
  }
  return offsets;
}

}  // namespace quorvel
