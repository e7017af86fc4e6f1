#include "settings_ui/BackdropPreview.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <numbers>

#include "pictures/BackdropBlur.h"

namespace quorvel {

namespace {

QImage drawStandIn() {
  QImage image(640, 400, QImage::Format_ARGB32);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  // Drawn with the origin at the lower left, as the picture is described.
  p.translate(0, 400);
  p.scale(1, -1);
  const double angle = 55 * std::numbers::pi / 180;
  const QPointF centre(320, 200);
  const double reach = 320 * std::abs(std::cos(angle)) + 200 * std::abs(std::sin(angle));
  const QPointF along(std::cos(angle) * reach, std::sin(angle) * reach);
  QLinearGradient gradient(centre - along, centre + along);
  gradient.setColorAt(0, QColor::fromRgbF(0.13f, 0.17f, 0.4f));
  gradient.setColorAt(0.5, QColor::fromRgbF(0.35f, 0.2f, 0.45f));
  gradient.setColorAt(1, QColor::fromRgbF(0.62f, 0.32f, 0.36f));
  p.fillRect(QRectF(0, 0, 640, 400), gradient);
  p.setPen(Qt::NoPen);
  struct Oval {
    QRectF rect;
    float r, g, b, a;
  };
  for (const Oval& o : {Oval{{60, 210, 220, 220}, 1.0f, 0.86f, 0.55f, 0.55f}, Oval{{330, 40, 300, 200}, 0.35f, 0.85f, 0.9f, 0.4f},
                        Oval{{250, 250, 160, 130}, 0.95f, 0.45f, 0.6f, 0.4f}, Oval{{430, 230, 180, 180}, 0.2f, 0.1f, 0.3f, 0.45f}}) {
    p.setBrush(QColor::fromRgbF(o.r, o.g, o.b, o.a));
    p.drawEllipse(o.rect);
  }
  return image;
}

DesktopStill stillOf(const QImage& source) {
  const QImage image = source.convertToFormat(QImage::Format_ARGB32);
  DesktopStill still{image.width(), image.height(), {}};
  still.pixels.resize(static_cast<size_t>(image.width()) * static_cast<size_t>(image.height()));
  for (int y = 0; y < image.height(); ++y)
    std::copy_n(reinterpret_cast<const uint32_t*>(image.constScanLine(y)), image.width(),
                still.pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(image.width()));
  return still;
}

QImage imageOf(const DesktopStill& still) {
  QImage image(still.width, still.height, QImage::Format_ARGB32);
  for (int y = 0; y < still.height; ++y)
    std::copy_n(still.pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(still.width), still.width,
                reinterpret_cast<uint32_t*>(image.scanLine(y)));
  return image;
}

}  // namespace

BackdropPreview::BackdropPreview(QWidget* parent) : QWidget(parent) {
  setObjectName("backdropPreview");
  setFixedHeight(kHeight);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  setAccessibleName("Preview of the blurred backdrop");
  render();
}

const QImage& BackdropPreview::standIn() {
  static const QImage image = drawStandIn();
  return image;
}

void BackdropPreview::setValues(double blurAmount, double dim) {
  blur_ = blurAmount;
  veil_ = dim > 0 ? std::min(dim, 1.0) : 0.0;
  render();
}

void BackdropPreview::setDesktop(const QImage& still) {
  if (still.isNull()) return;
  desktop_ = still;
  render();
}

void BackdropPreview::render() {
  const QImage& source = desktop_.isNull() ? standIn() : desktop_;
  const double radius = BackdropBlur::radiusFor(blur_);
  shown_ = radius > 0.01 && !source.isNull() ? imageOf(BackdropBlur::blurred(stillOf(source), radius)) : source;
  update();
}

void BackdropPreview::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  QPainterPath frame;
  frame.addRoundedRect(QRectF(rect()), 10, 10);
  painter.setClipPath(frame);
  painter.fillRect(rect(), QColor::fromRgbF(0.12f, 0.12f, 0.12f));
  if (!shown_.isNull()) {
    // Fill the frame, keeping the picture's proportions (what sticks out is cut off).
    const QSizeF fit = QSizeF(shown_.size()).scaled(QSizeF(width(), height()), Qt::KeepAspectRatioByExpanding);
    const QRectF target((width() - fit.width()) / 2, (height() - fit.height()) / 2, fit.width(), fit.height());
    painter.drawImage(target, shown_);
  }
  painter.fillRect(rect(), QColor::fromRgbF(0, 0, 0, static_cast<float>(veil_)));
}

}  // namespace quorvel
