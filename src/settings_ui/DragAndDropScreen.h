#pragma once

#include <QWidget>

namespace quorvel {

class BoundControls;
class SettingsBindings;

// Switching while dragging a file: on or off, by letting go of the shortcut or by resting on a
// window, and how long the rest is. Disabled controls keep their values.
class DragAndDropScreen final : public QWidget {
 public:
  explicit DragAndDropScreen(SettingsBindings& bindings, QWidget* parent = nullptr);

 private:
  void followValues();

  SettingsBindings& bindings_;
  BoundControls* controls_;
  QWidget* commitMode_ = nullptr;
  QWidget* restTime_ = nullptr;
};

}  // namespace quorvel
