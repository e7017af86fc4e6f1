#include "platform/sim/SimPointer.h"

#include "platform/sim/SimWorld.h"

namespace quorvel {

uint32_t SimPointer::pressedButtons() {
  return world_->read([&] { return world_->pointer.pressedButtons; });
}

bool SimPointer::warp(Point location) {
  return world_->change([&](SimEffects&) {
    world_->pointer.location = location;
    ++world_->pointer.warps;
    world_->pointer.associated = false;
    return true;
  });
}

bool SimPointer::associateMouseAndCursor(bool associated) {
  return world_->change([&](SimEffects&) {
    world_->pointer.associated = associated;
    return true;
  });
}

}  // namespace quorvel
