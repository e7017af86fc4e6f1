#include "program/ControllerOverlay.h"

#include "overlay/controller/OverlayController.h"

namespace quorvel {

ControllerOverlay::ControllerOverlay(std::unique_ptr<OverlayController> controller)
    : controller_(std::move(controller)) {}

ControllerOverlay::~ControllerOverlay() = default;

void ControllerOverlay::start() { controller_->start(); }

bool ControllerOverlay::isVisible() const { return controller_->isVisible(); }

void ControllerOverlay::present(bool byHotkey, AppSettings::HotkeyScope scope) { controller_->present(byHotkey, scope); }

void ControllerOverlay::noteMenuOpening() { controller_->noteMenuOpening(); }

void ControllerOverlay::presentFromMenu() { controller_->presentFromMenu(); }

void ControllerOverlay::quickFlip(AppSettings::HotkeyScope scope) { controller_->quickFlip(scope); }

void ControllerOverlay::stepByPress(int direction) { controller_->stepSelection(direction); }

void ControllerOverlay::onHotkeyRelease() { controller_->onHotkeyRelease(); }

void ControllerOverlay::catchUpInput() { controller_->catchUpInput(); }

void ControllerOverlay::prewarmIfAllowed() { controller_->prewarmIfAllowed(); }

void ControllerOverlay::handleTapKey(DismissKeyRoute route) { controller_->handleTapKey(static_cast<int>(route)); }

void ControllerOverlay::cancel() { controller_->cancel(); }

void ControllerOverlay::setKeyboardReporter(KeyboardReporter reporter) {
  controller_->reportKeyboardState = [reporter = std::move(reporter)](std::optional<OverlayKeyboardState> state) {
    if (reporter) reporter(state);
  };
}

}  // namespace quorvel
