#pragma once

#include <QColor>
#include <QWidget>

#include <functional>
#include <optional>

#include "settings/AppSettings.h"
#include "settings_ui/StylePreviewFrame.h"

class QPainterPath;
class QTimer;

namespace quorvel {

// A small animated picture of one arrangement of the switcher: blank cards posed by the switcher's
// own arrangements (with the spacing, grid order and panorama arrows the settings hold, read at
// every frame), on a rounded plate. The focus sweeps over the first cards every 6 s; a change of
// style morphs from the arrangement shown to the new one in 0.4 s. A newly made preview does not
// morph. Draws with QPainter at most 60 times a second, and only while it is visible.
//
// `plate` and `ink` default to the palette's button and dimmed text colours. The clock (seconds on
// a clock all previews share) can be replaced by tests.
//
// Threads: main thread only.
class StylePreview final : public QWidget {
 public:
  StylePreview(const AppSettings& settings, AppSettings::SwitcherStyle style, QWidget* parent = nullptr);
  ~StylePreview() override;

  AppSettings::SwitcherStyle style() const { return style_; }
  // Starts the morph from the style shown (nothing when it is the same).
  void setStyle(AppSettings::SwitcherStyle style);
  void setPreserveProportions(bool on);
  void setColors(std::optional<QColor> plate, std::optional<QColor> ink);
  void setClock(std::function<double()> seconds) { clock_ = std::move(seconds); }

  // "Preview of the Carousel style" and the like.
  static QString accessibleText(AppSettings::SwitcherStyle style);
  // The outline of a card with corners rounded by at most 4 pixels (a fifth of its shortest edge).
  static QPainterPath cardShape(const std::array<Float2, 4>& points);
  // The frame this preview draws now for a canvas of `width` × `height`.
  std::vector<StylePreviewFrame::Card> frame(double width, double height) const;
  bool animating() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  bool hasHeightForWidth() const override { return true; }
  int heightForWidth(int width) const override;
  QSize sizeHint() const override;

 private:
  const AppSettings& settings_;
  AppSettings::SwitcherStyle style_;
  std::optional<AppSettings::SwitcherStyle> outgoing_;
  double morphStart_ = -1e300;
  bool preserveProportions_ = false;
  std::optional<QColor> plate_;
  std::optional<QColor> ink_;
  std::function<double()> clock_;
  QTimer* timer_;
};

}  // namespace quorvel
