#pragma once

#include <QStringList>
#include <QWidget>

#include <array>
#include <vector>

#include <optional>
#include <string_view>

namespace quorvel {

// The tour's line drawings, drawn in code in the look's colours: each scene is laid out in a design
// space (240 × 128, or 320 × 132 for the arrival) scaled uniformly to fit the widget and centred;
// line widths stay the same on screen whatever the scale. Decoration only: no input, no animation,
// nothing for assistive technologies.
class BrandArt final : public QWidget {
 public:
  enum class Scene { arrival, capture, shortcut, settingsRows, search, menuBar, done };

  // `switchesOn`: the settings rows' two switches, top first.
  explicit BrandArt(Scene scene, std::array<bool, 2> switchesOn = {}, QWidget* parent = nullptr);
  Scene scene() const { return scene_; }
  std::array<bool, 2> switchesOn() const { return switchesOn_; }
  // The keys the shortcut scene shows on its caps, modifiers first ("Alt", "Tab" unless set).
  void setKeys(const QStringList& keys);
  const QStringList& keys() const { return keys_; }
  // Where the shortcut scene puts each key's cap, in design units, and the size of their labels:
  // right-aligned to the arrow in the 86 units left of it, narrowed together when they are many.
  struct Keycaps {
    std::vector<QRectF> frames;
    double fontSize = 12;
  };
  static Keycaps keycaps(const QStringList& keys);
  // Width over height of the scene's design space.
  static double aspect(Scene scene);
  // The scale and offset that fit a design space of `design` into `area`, centred.
  struct Fit {
    double scale;
    QPointF offset;
  };
  static Fit fit(QSizeF design, QSizeF area);

  QSize sizeHint() const override;
  bool hasHeightForWidth() const override { return true; }
  int heightForWidth(int width) const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  Scene scene_;
  std::array<bool, 2> switchesOn_;
  QStringList keys_{"Alt", "Tab"};
};

// One of the four small glyphs beside a point on a page, `size` × `size`, stroked in the accent.
class BrandGlyphView final : public QWidget {
 public:
  enum class Glyph { windows, search, swap, key };
  static std::optional<Glyph> glyphFromRaw(std::string_view raw);

  BrandGlyphView(Glyph glyph, int size, QWidget* parent = nullptr);
  Glyph glyph() const { return glyph_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  Glyph glyph_;
};

}  // namespace quorvel
