#pragma once

#include <QWidget>

class QFormLayout;
class QPushButton;

namespace quorvel {

class BoundControls;
class SettingsBindings;
class SettingsNavigator;

// The Pointer pane: pointing at cards, the scroll direction and speed, swipes through stacks, and
// (on a screen of its own) switching while dragging a file, whose row says "On" or "Off".
class PointerPane final : public QWidget {
 public:
  PointerPane(SettingsBindings& bindings, SettingsNavigator& navigator, QWidget* parent = nullptr);

  QPushButton* dragRow() const { return dragRow_; }

 private:
  void followValues();

  SettingsBindings& bindings_;
  SettingsNavigator& navigator_;
  BoundControls* controls_;
  QWidget* hoverMode_ = nullptr;
  QPushButton* dragRow_ = nullptr;
};

}  // namespace quorvel
