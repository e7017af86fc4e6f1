#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QFont>
#include <QLabel>
#include <QPushButton>
#include <QString>

class QPainter;

namespace quorvel {

// The look of the tour and the "Shortcut needed" window: a dark palette, six fonts, the page
// background, the eyebrow label, three button looks and a checkbox. Dark only; lengths are
// device-independent pixels. The settings window does not use it.
namespace Brand {

QColor ground();
QColor groundRaised();
QColor surface();
QColor surfaceRaised();
QColor line();
QColor ink();
QColor inkSoft();
QColor inkFaint();
QColor accent();
QColor accentDeep();
QColor onAccent();
QColor accentMuted();
QColor success();
QColor warning();
// `color` at `opacity` (0...1).
QColor withOpacity(QColor color, double opacity);

QFont titleFont();
QFont bodyFont();
QFont headingFont();
QFont calloutFont();
QFont captionFont();
QFont eyebrowFont();
QFont buttonFont();
// The system font at `pixels`, with `weight`.
QFont systemFont(double pixels, QFont::Weight weight = QFont::Normal);

// Fills `area` with the ground and lays the accent wash over its top 220 pixels.
void paintGround(QPainter& painter, const QRect& area);

// A text label in `font` and `color`; wrapping labels never cut their text short.
QLabel* label(const QString& text, const QFont& font, const QColor& color, bool wrap = true);
// The small line above a page's title: `text` in capitals, tracked out, in the accent colour.
QLabel* eyebrow(const QString& text);

}  // namespace Brand

// A button in one of the three looks: primary (accent fill), glow (accent fill, accent border and a
// glow under it) or ghost (surface fill and a hairline border). 34 high; 20 of room either side of
// the title. Only the fill answers a press; a disabled button is drawn at 40 %.
class BrandButton final : public QPushButton {
 public:
  enum class Look { primary, glow, ghost };
  BrandButton(const QString& title, Look look, QWidget* parent = nullptr);
  Look look() const { return look_; }
  QSize sizeHint() const override;
  QSize minimumSizeHint() const override { return sizeHint(); }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  Look look_;
};

// A checkbox whose box sits on the first line of a title with a caption under it; a click anywhere
// on it (box, gap or text) toggles it. clicked() carries the user's changes only: setChecked() from
// code changes the box and nothing else.
class BrandCheckbox final : public QAbstractButton {
 public:
  BrandCheckbox(const QString& title, const QString& caption, QWidget* parent = nullptr);
  QSize sizeHint() const override;
  bool hasHeightForWidth() const override { return true; }
  int heightForWidth(int width) const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QLabel* title_;
  QLabel* caption_;
};

}  // namespace quorvel
