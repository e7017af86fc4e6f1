#pragma once

#include <QWheelEvent>

namespace quorvel {

// A control that a wheel turned over it changes only once the user has picked it (it has the
// keyboard focus); otherwise the wheel goes on to the page, which scrolls. Wheel events alone never
// give it the focus.
template <class Control>
class WheelSafe final : public Control {
 public:
  template <class... Args>
  explicit WheelSafe(Args&&... args) : Control(std::forward<Args>(args)...) {
    this->setFocusPolicy(Qt::StrongFocus);
  }

 protected:
  void wheelEvent(QWheelEvent* event) override {
    if (!this->hasFocus()) {
      event->ignore();
      return;
    }
    Control::wheelEvent(event);
  }
};

}  // namespace quorvel
