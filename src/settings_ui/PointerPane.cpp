#include "settings_ui/PointerPane.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

#include "settings/AppSettings.h"
#include "settings_ui/BoundControls.h"
#include "settings_ui/DragAndDropScreen.h"
#include "settings_ui/PaneKit.h"
#include "settings_ui/SettingsBindings.h"
#include "settings_ui/SettingsForm.h"
#include "settings_ui/SettingsNavigator.h"

namespace quorvel {

namespace {

using K = AppSettings::Key;

SettingsForm* formIn(QWidget* owner) {
  auto* layout = new QVBoxLayout(owner);
  layout->setContentsMargins(0, 0, 0, 0);
  auto* form = new SettingsForm;
  layout->addWidget(form);
  return form;
}

}  // namespace

PointerPane::PointerPane(SettingsBindings& bindings, SettingsNavigator& navigator, QWidget* parent)
    : QWidget(parent), bindings_(bindings), navigator_(navigator), controls_(new BoundControls(bindings, this)) {
  SettingsForm* form = formIn(this);
  QFormLayout* pointing = form->section("Pointing");
  pointing->addRow(controls_->toggle(K::hoverSelects, "Point to select"));
  hoverMode_ = controls_->picker(K::hoverSelectMode, {"Keep the scene still", "Bring the pointed window forward"});
  pointing->addRow("Pointing at a window", hoverMode_);
  pointing->addRow(controls_->toggle(K::cursorFollowsFocus, "Move the pointer to the window"));
  pointing->addRow(controls_->toggle(K::middleClickCloses, "Middle click closes the window you point at"));
  form->footnote(
      "Keep the scene still marks the window under the pointer and leaves everything where it is. Bring the pointed "
      "window forward moves the scene as well, which some people like for browsing and others find restless.");

  QFormLayout* scrolling = form->section("Trackpad and scrolling");
  scrolling->addRow(controls_->toggle(K::scrollDirectionNatural, "Natural scroll direction"));
  scrolling->addRow("Scroll speed",
                    PaneKit::withEnds(controls_->slider(K::scrollSpeed, 0.5, 2.0, 150), "Slow", "Fast"));
  scrolling->addRow(controls_->toggle(K::flipStacksBySwiping, "Swipe up or down to flip through a stack"));
  // No haptic row: no touchpad on Linux plays a tap under the finger.
  form->footnote(
      "Swiping sideways moves between windows, and a stack counts as one. Natural means the windows follow your "
      "fingers, the way scrolling works elsewhere on your computer. Dragging with the mouse always follows the "
      "pointer.");

  QFormLayout* drag = form->section({});
  dragRow_ = SettingsForm::drillRow("Dragging a file");
  dragRow_->setObjectName("dragging");
  QObject::connect(dragRow_, &QPushButton::clicked, this,
                   [this] { navigator_.push(new DragAndDropScreen(bindings_), "Dragging a file"); });
  drag->addRow(dragRow_);
  form->finish();

  controls_->onRefresh([this] { followValues(); });
  followValues();
}

void PointerPane::followValues() {
  hoverMode_->setEnabled(bindings_.flag(K::hoverSelects));
  SettingsForm::setDrillValue(dragRow_, bindings_.flag(K::dragToSwitch) ? "On" : "Off");
}

}  // namespace quorvel
