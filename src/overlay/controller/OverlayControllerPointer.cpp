// Clicks, middle clicks, hovering and drags over the overlay, as the content view hands them on.
#include "overlay/controller/OverlayController.h"

namespace quorvel {

OverlayScene* OverlayController::activeScene() const {
  return activeDisplay_ ? renderer(*activeDisplay_) : nullptr;
}

void OverlayController::hapticTick() {
  if (services_.hapticTick) services_.hapticTick();
}

void OverlayController::bringForward(OverlayScene& scene, int index) {
  shortcutTap_.interrupted();
  scene.state().withLock([&](SceneState::Storage& s) {
    services_.wake.wake(s, [&](SceneState::Storage& st) { SceneState::selectHovered(st, index); });
  });
  if (hapticTicks_) hapticTick();
}

void OverlayController::click(Point point, Size size) {
  OverlayScene* scene = activeScene();
  if (!scene) return;
  const auto [badgeCard, badge] = scene->hitTest(point, size.width, size.height);
  if (badge) {
    performWindowAction(*badge, badgeCard);
    return;
  }
  const std::optional<int> card = scene->cardAtPoint(point, size.width, size.height);
  if (!card) {
    cancel();  // a click beside the cards
    return;
  }
  if (!scene->isFrontOfPile(*card)) {
    bringForward(*scene, *card);
    return;
  }
  activate(*card);
}

void OverlayController::middleClick(Point point, Size size) {
  OverlayScene* scene = isVisible_ ? activeScene() : nullptr;
  if (!scene) return;
  const std::optional<int> card = scene->cardAtPoint(point, size.width, size.height);
  if (!card) {
    logger_.notice("Middle click landed on no card, so nothing was closed");
    return;
  }
  if (!scene->isFrontOfPile(*card)) {
    bringForward(*scene, *card);
    return;
  }
  performWindowAction(CardAction::close, *card);
}

void OverlayController::hover(Point point, Size size) {
  OverlayScene* scene = isVisible_ ? activeScene() : nullptr;
  if (!scene) return;
  const std::optional<CardAction> badge = scene->hitTest(point, size.width, size.height).second;
  scene->state().withLock([&](SceneState::Storage& s) {
    services_.wake.wake(s, [&](SceneState::Storage& st) { SceneState::setHoveredAction(st, badge); });
  });
}

bool OverlayController::hoverSelect(Point point, Size size) {
  OverlayScene* scene = isVisible_ ? activeScene() : nullptr;
  if (!scene) return false;
  const std::optional<int> card = scene->cardAtPoint(point, size.width, size.height);
  if (!card) return false;
  if (hoverSelectMode_ != AppSettings::HoverSelectMode::recenter) {
    if (!highlightCard(*card)) return false;
    shortcutTap_.interrupted();
    return true;
  }
  if (frontIndex(*scene) == *card) return false;
  shortcutTap_.interrupted();
  scene->state().withLock([&](SceneState::Storage& s) {
    services_.wake.wake(s, [&](SceneState::Storage& st) { SceneState::selectHovered(st, *card); });
  });
  return true;
}

void OverlayController::dragEntered() {
  shortcutTap_.interrupted();
  if (isVisible_ && services_.settings.boolValue("dragToSwitch")) isDragging_ = true;
}

bool OverlayController::dragUpdate(Point point, Size size) {
  OverlayScene* scene = isVisible_ ? activeScene() : nullptr;
  if (!scene) return false;
  const std::optional<int> card = scene->cardAtPoint(point, size.width, size.height);
  const bool dwell = dragCommitMode_ == AppSettings::DragCommitMode::dwell;
  if (!card) {
    if (dwell) cancelDragDwell();
    return false;
  }
  highlightCard(*card);
  if (dwell && dragDwellIndex_ != card) startDragDwell(*card);
  return true;
}

void OverlayController::dragExited() {
  isDragging_ = false;
  cancelDragDwell();
}

void OverlayController::drop(Point point, Size size) {
  OverlayScene* scene = isVisible_ ? activeScene() : nullptr;
  if (!scene) return;
  isDragging_ = false;
  cancelDragDwell();
  if (const std::optional<int> card = scene->cardAtPoint(point, size.width, size.height)) activate(*card);
}

}  // namespace quorvel
