#pragma once

#include <memory>

#include "app/SwitcherOverlay.h"

namespace quorvel {

class OverlayController;

// The switcher overlay as the application delegate sees it, over the program's overlay controller.
// Owns the controller. Main thread only.
class ControllerOverlay final : public SwitcherOverlay {
 public:
  explicit ControllerOverlay(std::unique_ptr<OverlayController> controller);
  ~ControllerOverlay() override;

  void start() override;
  bool isVisible() const override;
  void present(bool byHotkey, AppSettings::HotkeyScope scope) override;
  void noteMenuOpening() override;
  void presentFromMenu() override;
  void quickFlip(AppSettings::HotkeyScope scope) override;
  void stepByPress(int direction) override;
  void onHotkeyRelease() override;
  void catchUpInput() override;
  void prewarmIfAllowed() override;
  void handleTapKey(DismissKeyRoute route) override;
  void cancel() override;
  void setKeyboardReporter(KeyboardReporter reporter) override;

  OverlayController& controller() { return *controller_; }

 private:
  std::unique_ptr<OverlayController> controller_;
};

}  // namespace quorvel
