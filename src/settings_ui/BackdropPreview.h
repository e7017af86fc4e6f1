#pragma once

#include <QImage>
#include <QWidget>

namespace quorvel {

// The live-desktop backdrop as the switcher will show it: one still of the desktop (without any of
// this program's windows), blurred by the blur amount and darkened by a black veil as dark as the
// darkening, in a rounded frame 130 pixels high. Until a still is given, and when there is none, a
// built-in stand-in picture is shown instead. Each change blurs again from the unblurred picture.
class BackdropPreview final : public QWidget {
 public:
  static constexpr int kHeight = 130;
  static constexpr int kPictureWidth = 640;

  explicit BackdropPreview(QWidget* parent = nullptr);

  void setValues(double blurAmount, double dim);
  // The desktop's still (a null image keeps the stand-in).
  void setDesktop(const QImage& still);
  bool hasDesktop() const { return !desktop_.isNull(); }
  // What is drawn, before the veil.
  const QImage& shown() const { return shown_; }
  // The veil's opacity: the darkening clamped to [0, 1].
  double veil() const { return veil_; }

  // The stand-in: a 640 × 400 gradient with four soft ovals, drawn once per process.
  static const QImage& standIn();

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void render();

  QImage desktop_;
  QImage shown_;
  double blur_ = 0;
  double veil_ = 0;
};

}  // namespace quorvel
