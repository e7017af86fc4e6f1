#pragma once

#include <QWidget>

#include "base/Subscription.h"
#include "settings/AppSettings.h"

class QFormLayout;
class QLabel;
class QSlider;

namespace quorvel {

class BoundControls;
class SettingsBindings;
class StylePreview;

// The Appearance pane: the arrangement with its live preview, the card spacing of that arrangement,
// the marks each card carries, depth and light, and the fly-in. Rows that only matter for one
// arrangement or one mark show only then.
//
// The spacing slider edits the spacing of the arrangement chosen now: its range is that
// arrangement's limits, what it writes is clamped to them and stored under that arrangement's own
// key; choosing another arrangement moves the slider to that one's spacing, and a spacing stored
// elsewhere (an import, a restore) moves it too.
//
// Threads: main thread only.
class AppearancePane final : public QWidget {
 public:
  static constexpr int kSpacingSteps = 600;

  // `desktopHasMotionSwitch`: the desktop publishes a switch for animations, which keeps the flight
  // off when it is off (the footnote says so only then).
  explicit AppearancePane(SettingsBindings& bindings, bool desktopHasMotionSwitch = false, QWidget* parent = nullptr);
  ~AppearancePane() override;

  StylePreview* preview() const { return preview_; }
  QSlider* spacingSlider() const { return spacing_; }
  QLabel* motionNote() const { return motionNote_; }
  double spacing() const { return spacingCopy_; }
  // The slider's move to `value`: clamped to the arrangement's limits and stored (held while it moves).
  void storeSpacing(double value);
  // The arrangement as the pane reads it (a stored text naming none reads as the cover arc).
  AppSettings::SwitcherStyle style() const;

 private:
  void followValues();
  void showSpacing();

  SettingsBindings& bindings_;
  BoundControls* controls_;
  StylePreview* preview_ = nullptr;
  QSlider* spacing_ = nullptr;
  QFormLayout* arrangement_ = nullptr;
  QFormLayout* marks_ = nullptr;
  QWidget* gridOrder_ = nullptr;
  QWidget* arrows_ = nullptr;
  QWidget* iconPosition_ = nullptr;
  QWidget* titlePlacement_ = nullptr;
  QWidget* titleSize_ = nullptr;
  QWidget* fadeTitle_ = nullptr;
  QLabel* description_ = nullptr;
  QLabel* gridNote_ = nullptr;
  QLabel* arrowsNote_ = nullptr;
  QLabel* motionNote_ = nullptr;
  AppSettings::SwitcherStyle shownStyle_;
  double spacingCopy_ = 1;
};

}  // namespace quorvel
