#pragma once

#include <QFrame>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>
#include <array>
#include <optional>
#include <vector>

#include "onboarding/BrandArt.h"
#include "onboarding/OnboardingFlow.h"
#include "windows/ChromeWindowCensus.h"

namespace quorvel {

class BrandButton;

// The step dots of the footer: one per step, the current one wide and in the accent, those passed
// in a soft ink, those to come in the hairline colour.
class BrandDots final : public QWidget {
 public:
  BrandDots(int count, int current, QWidget* parent = nullptr);
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int count_;
  int current_;
};

// The bar under every page: a hairline, the step dots (none when `stepCount` is below 1), and the
// page's buttons at the right end, left to right. `perform` runs the command of a pressed button.
class BrandFooter final : public QWidget {
 public:
  BrandFooter(int stepCount, int step, const std::vector<OnboardingFlow::Action>& actions,
              std::function<void(OnboardingFlow::Action::Command)> perform, QWidget* parent = nullptr);
  const std::vector<BrandButton*>& buttons() const { return buttons_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::vector<BrandButton*> buttons_;
};

// A key cap: the label on a small raised key.
class BrandKeycap final : public QWidget {
 public:
  explicit BrandKeycap(const QString& label, QWidget* parent = nullptr);
  QString label() const { return label_; }
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString label_;
};

// A shortcut drawn as keys (in a column 112 wide) beside what it does.
class BrandKeyRow final : public QWidget {
 public:
  static constexpr int kKeysWidth = 112;
  BrandKeyRow(const QStringList& caps, const QString& meaning, QWidget* parent = nullptr);
  // The keys' own width, and the column they stand in: 112 wide, or as wide as the rows of a list
  // need so that every key shows and the meanings line up.
  int keysNeeded() const;
  int keysWidth() const;
  void setKeysWidth(int width);

 private:
  QWidget* keys_;
};

// Whether something the switcher needs is there: a green "Ready" or an amber word of what is missing.
class BrandStatusPill final : public QWidget {
 public:
  BrandStatusPill(bool allowed, const QString& missingText, QWidget* parent = nullptr);
  bool allowed() const { return allowed_; }
  QString text() const { return text_; }
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  bool allowed_;
  QString text_;
};

// A glyph beside a sentence.
class BrandPointRow final : public QWidget {
 public:
  BrandPointRow(BrandGlyphView::Glyph glyph, const QString& text, QWidget* parent = nullptr);
};

// The surface of cards and choice tiles; highlighted: raised fill and an accent border.
class BrandTile : public QFrame {
 public:
  explicit BrandTile(bool highlighted = false, QWidget* parent = nullptr);
  void setHighlighted(bool on);
  bool highlighted() const { return highlighted_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  bool highlighted_;
};

// One page: the illustration panel (when there is art), the eyebrow, the title, the message and the
// page's own content, over the footer; the ground behind it all. Text is leading-aligned.
class BrandScreen final : public QWidget {
 public:
  struct Texts {
    QString eyebrow;
    QString title;
    QString message;
  };
  struct Art {
    BrandArt::Scene scene;
    std::array<bool, 2> switchesOn{};  // the settings rows' two switches, top first
    QStringList keys;  // the shortcut scene's keys; Alt and Tab when empty
  };
  BrandScreen(const Texts& texts, std::optional<Art> art, QWidget* content, BrandFooter* footer,
              QWidget* parent = nullptr);
  BrandFooter* footer() const { return footer_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  BrandFooter* footer_;
};

// A vertical list of point rows, 14 apart.
QWidget* brandPointList(const std::vector<std::pair<BrandGlyphView::Glyph, QString>>& points);

// The usual size of the tour's windows.
constexpr int kPageWidth = 720;
constexpr int kPageHeight = 600;

// Puts `next` in `page`'s place in the window's layout (or first into it) and shows it, the window
// sized to the page (the usual size, or larger when the page needs it); the page it replaces is
// deleted once its events are done.
void showPage(QWidget& window, QWidget*& page, QWidget* next);

// A window of the tour's comes forward in the middle of the primary screen when `centre`, and is
// kept counted among the program's own windows under the number it has now.
void bringForward(QWidget& window, CountedWindow& counted, bool centre);

}  // namespace quorvel
