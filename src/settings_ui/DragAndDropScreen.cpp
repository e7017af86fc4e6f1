#include "settings_ui/DragAndDropScreen.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "settings/AppSettings.h"
#include "settings_ui/BoundControls.h"
#include "settings_ui/SettingsBindings.h"
#include "settings_ui/SettingsForm.h"

namespace quorvel {

using K = AppSettings::Key;

DragAndDropScreen::DragAndDropScreen(SettingsBindings& bindings, QWidget* parent)
    : QWidget(parent), bindings_(bindings), controls_(new BoundControls(bindings, this)) {
  setFixedWidth(SettingsForm::kWidth);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  auto* form = new SettingsForm;
  layout->addWidget(form);
  QFormLayout* dragging = form->section("Dragging a file");
  dragging->addRow(controls_->toggle(K::dragToSwitch, "Drop onto a window"));
  commitMode_ = controls_->picker(K::dragCommitMode, {"Let go of the shortcut to switch", "Rest on a window to switch"});
  dragging->addRow("To switch while dragging", commitMode_);
  restTime_ = controls_->picker(K::dragRestTime, {"Quick", "Normal", "Relaxed"});
  dragging->addRow("Rest time", restTime_);
  form->footnote(
      "Start dragging something, open the switcher and carry it over your windows. The one you pick comes to the "
      "front with the file still in your hand, ready to drop.");

  QFormLayout* ways = form->section("The two ways to switch");
  for (const char* text :
       {"Let go of the shortcut to switch works like the rest of the switcher: hold the shortcut, point at the window "
        "you want, let go. If you open the switcher by tapping instead of holding there is no shortcut to let go of, "
        "so drop the file on the window's card.",
        "Rest on a window to switch is the way a dock or taskbar does it: hold still over a window and it comes to the "
        "front on its own, after the rest time you pick.",
        "Dropping on a window's card works in both."}) {
    ways->addRow(SettingsForm::explainer(text));
  }
  form->finish();

  controls_->onRefresh([this] { followValues(); });
  followValues();
}

void DragAndDropScreen::followValues() {
  const bool on = bindings_.flag(K::dragToSwitch);
  commitMode_->setEnabled(on);
  restTime_->setEnabled(on && bindings_.text(K::dragCommitMode) == "dwell");
}

}  // namespace quorvel
