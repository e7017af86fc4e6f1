#include "onboarding/Brand.h"

#include <QFontMetrics>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

namespace quorvel {

namespace Brand {

namespace {
QColor rgb(double r, double g, double b) { return QColor::fromRgbF(float(r), float(g), float(b)); }
}  // namespace

QColor ground() { return rgb(0.0392, 0.0549, 0.0824); }
QColor groundRaised() { return rgb(0.0549, 0.0745, 0.1098); }
QColor surface() { return rgb(0.0784, 0.102, 0.1451); }
QColor surfaceRaised() { return rgb(0.102, 0.1294, 0.1882); }
QColor line() { return rgb(0.1451, 0.1804, 0.2431); }
QColor ink() { return rgb(0.9137, 0.9333, 0.9608); }
QColor inkSoft() { return rgb(0.5961, 0.6431, 0.7176); }
QColor inkFaint() { return rgb(0.4196, 0.4627, 0.5333); }
QColor accent() { return rgb(0.1843, 0.4196, 1.0); }
QColor accentDeep() { return rgb(0.1176, 0.3137, 0.8157); }
QColor onAccent() { return QColor(Qt::white); }
QColor accentMuted() { return rgb(0.1607, 0.2762, 0.5459); }
QColor success() { return rgb(0.2039, 0.7804, 0.349); }
QColor warning() { return rgb(1.0, 0.6235, 0.0392); }

QColor withOpacity(QColor color, double opacity) {
  color.setAlphaF(float(color.alphaF() * opacity));
  return color;
}

QFont systemFont(double pixels, QFont::Weight weight) {
  QFont font;
  font.setPixelSize(std::max(1, int(pixels + 0.5)));
  font.setWeight(weight);
  return font;
}

QFont titleFont() { return systemFont(25, QFont::Bold); }
QFont bodyFont() { return systemFont(15); }
QFont headingFont() { return systemFont(14.5, QFont::DemiBold); }
QFont calloutFont() { return systemFont(13); }
QFont captionFont() { return systemFont(12); }
QFont eyebrowFont() {
  QFont font = systemFont(11, QFont::DemiBold);
  font.setLetterSpacing(QFont::AbsoluteSpacing, 1.55);
  return font;
}
QFont buttonFont() { return systemFont(13.5, QFont::DemiBold); }

void paintGround(QPainter& painter, const QRect& area) {
  painter.fillRect(area, ground());
  QLinearGradient wash(area.topLeft(), QPointF(area.left(), area.top() + 220));
  wash.setColorAt(0, withOpacity(accent(), 0.07));
  wash.setColorAt(1, withOpacity(accent(), 0));
  painter.fillRect(QRect(area.left(), area.top(), area.width(), std::min(area.height(), 220)), wash);
}

QLabel* label(const QString& text, const QFont& font, const QColor& color, bool wrap) {
  auto* result = new QLabel(text);
  result->setFont(font);
  QPalette palette = result->palette();
  palette.setColor(QPalette::WindowText, color);
  palette.setColor(QPalette::Text, color);
  result->setPalette(palette);
  result->setWordWrap(wrap);
  result->setTextFormat(Qt::PlainText);
  return result;
}

QLabel* eyebrow(const QString& text) {
  QLabel* result = label(text.toUpper(), eyebrowFont(), accent(), false);
  result->setObjectName("eyebrow");
  return result;
}

}  // namespace Brand

BrandButton::BrandButton(const QString& title, Look look, QWidget* parent) : QPushButton(title, parent), look_(look) {
  setFont(Brand::buttonFont());
  setCursor(Qt::PointingHandCursor);
  setFixedHeight(34);
}

QSize BrandButton::sizeHint() const {
  return {QFontMetrics(font()).horizontalAdvance(text()) + 40, 34};
}

void BrandButton::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  if (!isEnabled()) painter.setOpacity(0.4);
  const QRectF box = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
  const bool pressed = isDown();
  QColor fill;
  QColor text;
  switch (look_) {
    case Look::primary:
    case Look::glow:
      fill = pressed ? Brand::accentDeep() : Brand::accent();
      text = Brand::onAccent();
      break;
    case Look::ghost:
      fill = pressed ? Brand::surfaceRaised() : Brand::surface();
      text = Brand::ink();
      break;
  }
  if (look_ == Look::glow) {
    // The glow: rings of accent fading outwards, drawn inside the button's own bounds.
    for (int i = 3; i >= 1; --i) {
      painter.setPen(QPen(Brand::withOpacity(Brand::accent(), 0.12 * i), 1));
      painter.setBrush(Qt::NoBrush);
      painter.drawRoundedRect(box.adjusted(i - 1, i - 1, -(i - 1), -(i - 1)), 12, 12);
    }
  }
  painter.setPen(Qt::NoPen);
  painter.setBrush(fill);
  painter.drawRoundedRect(box, 12, 12);
  if (look_ != Look::primary) {
    const QColor border = look_ == Look::glow ? Brand::withOpacity(Brand::accent(), 0.55) : Brand::line();
    painter.setPen(QPen(border, 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(box, 12, 12);
  }
  painter.setPen(text);
  painter.setFont(font());
  painter.drawText(rect(), Qt::AlignCenter, this->text());
  if (hasFocus()) {
    painter.setPen(QPen(Brand::withOpacity(Brand::ink(), 0.5), 1, Qt::DotLine));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(box.adjusted(2, 2, -2, -2), 10, 10);
  }
}

BrandCheckbox::BrandCheckbox(const QString& title, const QString& caption, QWidget* parent) : QAbstractButton(parent) {
  setCheckable(true);
  setCursor(Qt::PointingHandCursor);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(24, 0, 0, 0);
  layout->setSpacing(3);
  title_ = Brand::label(title, Brand::calloutFont(), Brand::ink());
  caption_ = Brand::label(caption, Brand::captionFont(), Brand::inkFaint());
  // Clicks on the texts go to the checkbox.
  title_->setAttribute(Qt::WA_TransparentForMouseEvents);
  caption_->setAttribute(Qt::WA_TransparentForMouseEvents);
  layout->addWidget(title_);
  layout->addWidget(caption_);
  setText(title);
  setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
}

QSize BrandCheckbox::sizeHint() const { return layout()->sizeHint(); }

int BrandCheckbox::heightForWidth(int width) const { return layout()->totalHeightForWidth(width); }

void BrandCheckbox::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  // The box sits on the title's first line: its bottom 3 below that line's baseline.
  const QFontMetrics metrics(title_->font());
  const double baseline = title_->geometry().top() + metrics.ascent();
  const QRectF box(0.5, baseline + 3 - 15 + 0.5, 14, 14);
  painter.setPen(QPen(isChecked() ? Brand::accent() : Brand::line(), 1));
  painter.setBrush(isChecked() ? Brand::accent() : Brand::ground());
  painter.drawRoundedRect(box, 4, 4);
  if (isChecked()) {
    QPen tick(Brand::onAccent(), 1.8);
    tick.setCapStyle(Qt::RoundCap);
    tick.setJoinStyle(Qt::RoundJoin);
    painter.setPen(tick);
    QPainterPath mark;
    mark.moveTo(box.left() + 3.8, box.center().y() + 0.3);
    mark.lineTo(box.left() + 6.3, box.center().y() + 2.8);
    mark.lineTo(box.right() - 3.5, box.top() + 4.2);
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(mark);
  }
  if (hasFocus()) {
    painter.setPen(QPen(Brand::withOpacity(Brand::ink(), 0.5), 1, Qt::DotLine));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(box.adjusted(-2, -2, 2, 2), 5, 5);
  }
}

}  // namespace quorvel
