#include "platform/qt/QtDesktopPalette.h"

#include <QColor>
#include <QGuiApplication>
#include <QPalette>

namespace quorvel {

std::optional<RasterColor> QtDesktopPalette::accentColor() {
  if (QGuiApplication::instance() == nullptr) return std::nullopt;
  const QColor highlight = QGuiApplication::palette().color(QPalette::Active, QPalette::Highlight);
  if (!highlight.isValid()) return std::nullopt;
  const QColor rgb = highlight.toRgb();
  if (!rgb.isValid()) return std::nullopt;
  return RasterColor{rgb.redF(), rgb.greenF(), rgb.blueF(), 1.0};
}

}  // namespace quorvel
