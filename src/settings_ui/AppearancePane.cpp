#include "settings_ui/AppearancePane.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

#include "settings_ui/BoundControls.h"
#include "settings_ui/PaneKit.h"
#include "settings_ui/SettingsBindings.h"
#include "settings_ui/SettingsForm.h"
#include "settings_ui/WheelSafe.h"
#include "settings_ui/StyleNames.h"
#include "settings_ui/StylePreview.h"

namespace quorvel {

namespace {

using K = AppSettings::Key;
using Style = AppSettings::SwitcherStyle;

}  // namespace

AppearancePane::AppearancePane(SettingsBindings& bindings, bool desktopHasMotionSwitch, QWidget* parent)
    : QWidget(parent), bindings_(bindings), controls_(new BoundControls(bindings, this)) {
  shownStyle_ = style();
  spacingCopy_ = bindings_.settings().cardSpacing(shownStyle_);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  auto* form = new SettingsForm;
  layout->addWidget(form);

  std::vector<QString> styleNames;
  for (Style s : SettingEnums::allCases<Style>()) styleNames.push_back(StyleNames::displayName(s));
  arrangement_ = form->section("Arrangement");
  arrangement_->addRow("Arrangement", controls_->picker(K::switcherStyle, styleNames));
  preview_ = new StylePreview(bindings_.settings(), shownStyle_);
  preview_->setPreserveProportions(bindings_.flag(K::preserveWindowScale));
  arrangement_->addRow(preview_);
  gridOrder_ = controls_->picker(K::gridOrder, {"Rows", "Snake"});
  arrangement_->addRow("Grid order", gridOrder_);
  arrows_ = controls_->picker(K::panoramaArrows, {"Follow the window order", "Move across the wall"});
  arrangement_->addRow("Arrow keys", arrows_);
  description_ = form->footnote({});
  gridNote_ = form->footnote(
      "Rows fill left to right. Snake runs every other row backwards, so neighbours in the cycle are always side by "
      "side. The arrow keys work either way.");
  arrowsNote_ = form->footnote(
      "Following the order steps one window at a time, which swaps rows at every step. Moving across the wall keeps "
      "left and right within a row and lets up and down change rows.");

  QFormLayout* size = form->section("Size and spacing");
  spacing_ = new WheelSafe<QSlider>(Qt::Horizontal);
  spacing_->setObjectName("cardSpacing");
  spacing_->setRange(0, kSpacingSteps);
  QObject::connect(spacing_, &QSlider::valueChanged, this, [this](int position) {
    const AppSettings::SpacingLimits limits = AppSettings::cardSpacingLimits(style());
    storeSpacing(limits.least + (limits.greatest - limits.least) * position / kSpacingSteps);
  });
  QObject::connect(spacing_, &QSlider::sliderReleased, this, [this] { bindings_.flush(); });
  size->addRow("Card spacing", PaneKit::withEnds(spacing_, QString::fromUtf8("\u2192|\u2190"), QString::fromUtf8("\u2190|\u2192")));
  size->addRow(controls_->toggle(K::preserveWindowScale, "Keep window sizes"));
  form->footnote(
      "Each arrangement remembers its own spacing, and it changes right away, even while the switcher is open. Keep "
      "window sizes draws big windows as big cards.");

  marks_ = form->section("What each window shows");
  marks_->addRow(controls_->toggle(K::showAppIcons, "Show app icons on windows"));
  iconPosition_ = controls_->picker(K::iconPosition, {"Top left corner", "Bottom edge"});
  marks_->addRow("Icon position", iconPosition_);
  marks_->addRow(controls_->toggle(K::showWindowTitle, "Show window title"));
  titlePlacement_ = controls_->picker(K::titlePlacement, {"Bottom", "Top"});
  marks_->addRow("Title position", titlePlacement_);
  titleSize_ = controls_->picker(K::titleSize, {"Small", "Medium", "Large"});
  marks_->addRow("Title size", titleSize_);
  marks_->addRow(controls_->toggle(K::showCardTitles, "Show titles above windows"));
  fadeTitle_ = controls_->toggle(K::fadeSelectedTitle, "Hide the title above the window you have picked");
  marks_->addRow(fadeTitle_);
  marks_->addRow(controls_->toggle(K::showStatusBadges, "Mark windows from other places"));
  marks_->addRow(controls_->toggle(K::labelPlaceholders, "Label windows with no preview"));
  marks_->addRow("Size of icons and titles", controls_->picker(K::cardChromeSize, {"Small", "Medium", "Large"}));
  form->footnote(
      "The window title is a floating label naming the one you have picked; titles above windows name all of them, "
      "which is why it starts off. With both on, the picked window is named twice, and hiding one of the two is a "
      "matter of taste. Flip 3D always puts the icon in the corner, because its cards overlap from below. A window "
      "with no preview is one that is minimized, on another desktop or still loading. The size covers the marks on a "
      "window, not the windows themselves.");

  QFormLayout* depth = form->section("Depth and light");
  depth->addRow(controls_->toggle(K::showSelectionRing, "Highlight the selected window"));
  depth->addRow(controls_->toggle(K::showCardShadows, "Card shadows"));
  depth->addRow(controls_->toggle(K::floorReflections, "Floor reflection"));
  depth->addRow(controls_->toggle(K::liveHero, "Show the selected window live"));
  depth->addRow(controls_->toggle(K::refreshPictureOnLeave, "Refresh a window's picture when you leave it"));
  form->footnote(
      "Live means the selected window keeps moving, so a playing video plays on in its preview. The Panorama and the "
      "Grid have no floor, so they ignore the reflection. Without the refresh, a window you have used shows its older "
      "picture for a moment.");

  QFormLayout* animation = form->section("Animation");
  animation->addRow(controls_->toggle(K::animateFlight, "Fly windows into place"));
  animation->addRow("Animation speed", controls_->picker(K::animationSpeed, {"Slow", "Normal", "Fast"}));
  QString flight =
      "Windows lift off their real place on screen when the switcher opens and land back on it when you pick one.";
  if (desktopHasMotionSwitch) flight += " Reduced motion in the desktop's settings keeps the flight off whatever this says.";
  motionNote_ = form->footnote(flight);
  form->finish();

  controls_->onRefresh([this] { followValues(); });
  showSpacing();
  followValues();
}

AppearancePane::~AppearancePane() = default;

AppSettings::SwitcherStyle AppearancePane::style() const { return bindings_.settings().switcherStyle(); }

void AppearancePane::storeSpacing(double value) {
  const Style s = style();
  const AppSettings::SpacingLimits limits = AppSettings::cardSpacingLimits(s);
  const double clamped = std::min(std::max(value, limits.least), limits.greatest);
  spacingCopy_ = clamped;
  bindings_.writeSoon(AppSettings::cardSpacingKey(s), clamped);
}

void AppearancePane::showSpacing() {
  const AppSettings::SpacingLimits limits = AppSettings::cardSpacingLimits(style());
  const double span = limits.greatest - limits.least;
  if (spacing_->isSliderDown()) return;
  const QSignalBlocker quiet(spacing_);
  spacing_->setValue(span > 0 ? static_cast<int>(std::lround((spacingCopy_ - limits.least) / span * kSpacingSteps)) : 0);
}

void AppearancePane::followValues() {
  const Style s = style();
  if (s != shownStyle_) {
    // Another arrangement: the slider takes its spacing, written under its own key when the
    // stored value reads differently once clamped.
    const double before = spacingCopy_;
    shownStyle_ = s;
    spacingCopy_ = bindings_.settings().cardSpacing(s);
    if (spacingCopy_ != before) bindings_.write(AppSettings::cardSpacingKey(s), spacingCopy_);
    preview_->setStyle(s);
  } else if (!bindings_.holds(AppSettings::cardSpacingKey(s))) {
    spacingCopy_ = bindings_.settings().cardSpacing(s);
  }
  showSpacing();
  preview_->setPreserveProportions(bindings_.flag(AppSettings::Key::preserveWindowScale));

  description_->setText(StyleNames::description(s) + " Pick one with the switcher open and it re-forms in place.");
  arrangement_->setRowVisible(gridOrder_, s == Style::expo);
  arrangement_->setRowVisible(arrows_, s == Style::cylinder);
  gridNote_->setVisible(s == Style::expo);
  arrowsNote_->setVisible(s == Style::cylinder);

  iconPosition_->setEnabled(bindings_.flag(AppSettings::Key::showAppIcons));
  const bool title = bindings_.flag(AppSettings::Key::showWindowTitle);
  marks_->setRowVisible(titlePlacement_, title);
  marks_->setRowVisible(titleSize_, title);
  marks_->setRowVisible(fadeTitle_, title && bindings_.flag(AppSettings::Key::showCardTitles));
}

}  // namespace quorvel
