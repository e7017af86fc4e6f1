#include "settings_ui/StylePreview.h"

#include <QPainter>
#include <QPainterPath>
#include <QTimer>

#include <chrono>
#include <cmath>

#include "scene/LayoutFactory.h"
#include "settings_ui/StyleNames.h"

namespace quorvel {

namespace {

constexpr int kFrameMs = 17;  // at most 60 frames a second
constexpr int kMaxHeight = 140;
constexpr double kRadius = 10;

double sharedSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

QPointF at(Float2 p) { return {p.x, p.y}; }

// Corner p cut towards q: r along the edge, but at most half of it.
QPointF cut(QPointF p, QPointF q, double r) {
  const QPointF d = q - p;
  const double len = std::hypot(d.x(), d.y());
  if (len <= 0.000001) return p;
  return p + d * std::min(r / len, 0.5);
}

}  // namespace

StylePreview::StylePreview(const AppSettings& settings, AppSettings::SwitcherStyle style, QWidget* parent)
    : QWidget(parent), settings_(settings), style_(style), clock_(sharedSeconds), timer_(new QTimer(this)) {
  setObjectName("stylePreview");
  setMinimumHeight(60);
  setMaximumHeight(kMaxHeight);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
  setAccessibleName(accessibleText(style));
  timer_->setInterval(kFrameMs);
  QObject::connect(timer_, &QTimer::timeout, this, [this] { update(); });
}

StylePreview::~StylePreview() = default;

void StylePreview::setStyle(AppSettings::SwitcherStyle style) {
  if (style == style_) return;
  outgoing_ = style_;
  style_ = style;
  morphStart_ = clock_();
  setAccessibleName(accessibleText(style));
  update();
}

void StylePreview::setPreserveProportions(bool on) {
  preserveProportions_ = on;
  update();
}

void StylePreview::setColors(std::optional<QColor> plate, std::optional<QColor> ink) {
  plate_ = plate;
  ink_ = ink;
  update();
}

QString StylePreview::accessibleText(AppSettings::SwitcherStyle style) {
  return "Preview of the " + StyleNames::displayName(style) + " style";
}

bool StylePreview::animating() const { return timer_->isActive(); }

std::vector<StylePreviewFrame::Card> StylePreview::frame(double width, double height) const {
  const double now = clock_();
  StylePreviewFrame::Input in;
  in.cards = StylePreviewFrame::cardCount(style_);
  in.current = LayoutFactory::makeLayout(style_, settings_);
  const double since = now - morphStart_;
  if (outgoing_ && !(since >= StylePreviewFrame::kMorphSeconds) && !std::isnan(since)) {
    in.outgoing = LayoutFactory::makeLayout(*outgoing_, settings_);
    in.t = StylePreviewFrame::morphT(since);
  }
  in.focus = StylePreviewFrame::focusAt(now, in.cards);
  in.preserveProportions = preserveProportions_;
  in.width = width;
  in.height = height;
  return StylePreviewFrame::cards(in);
}

QPainterPath StylePreview::cardShape(const std::array<Float2, 4>& pts) {
  QPainterPath path;
  const QPointF p[4] = {at(pts[0]), at(pts[1]), at(pts[2]), at(pts[3])};
  double shortest = 1e300;
  for (int i = 0; i < 4; ++i) {
    const QPointF d = p[(i + 1) % 4] - p[i];
    shortest = std::min(shortest, std::hypot(d.x(), d.y()));
  }
  const double s = 0.2 * shortest;
  if (s <= 0.5) {
    path.moveTo(p[0]);
    for (int i = 1; i < 4; ++i) path.lineTo(p[i]);
    path.closeSubpath();
    return path;
  }
  const double r = std::min(s, 4.0);
  path.moveTo(cut(p[0], p[3], r));
  for (int i = 0; i < 4; ++i) {
    const QPointF prev = p[(i + 3) % 4], here = p[i], next = p[(i + 1) % 4];
    if (i > 0) path.lineTo(cut(here, prev, r));
    path.quadTo(here, cut(here, next, r));
  }
  path.closeSubpath();
  return path;
}

void StylePreview::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  QPainterPath plate;
  plate.addRoundedRect(QRectF(rect()), kRadius, kRadius);
  painter.setClipPath(plate);
  painter.fillPath(plate, plate_.value_or(palette().color(QPalette::Button)));
  const double w = width(), h = height();
  const std::vector<StylePreviewFrame::Card> cards = frame(w, h);
  if (cards.empty()) return;
  const StylePreviewFrame::Band band = StylePreviewFrame::band(w, h);
  painter.setClipRect(QRectF(band.x, band.y, band.width, band.height), Qt::IntersectClip);
  const QColor ink = ink_.value_or(palette().color(QPalette::PlaceholderText));
  const std::vector<StylePreviewFrame::Ink> inks = StylePreviewFrame::inks(cards);
  for (size_t i = 0; i < cards.size(); ++i) {
    const QPainterPath shape = cardShape(cards[i].points);
    QColor fill = ink;
    fill.setAlphaF(static_cast<float>(std::clamp(inks[i].fill, 0.0, 1.0)));
    painter.fillPath(shape, fill);
    QColor line = ink;
    line.setAlphaF(static_cast<float>(std::clamp(inks[i].stroke, 0.0, 1.0)));
    painter.strokePath(shape, QPen(line, 1));
  }
}

void StylePreview::showEvent(QShowEvent* event) {
  timer_->start();
  QWidget::showEvent(event);
}

void StylePreview::hideEvent(QHideEvent* event) {
  timer_->stop();
  QWidget::hideEvent(event);
}

int StylePreview::heightForWidth(int width) const {
  return std::min(kMaxHeight, static_cast<int>(width / StylePreviewFrame::kWidestBand));
}

QSize StylePreview::sizeHint() const { return {252, kMaxHeight}; }

}  // namespace quorvel
