#pragma once

#include <memory>

#include "platform/Pointer.h"

namespace quorvel {

class SimWorld;

// The simulated pointer: a location and the buttons a test holds down (SimDesktop).
class SimPointer final : public Pointer {
 public:
  explicit SimPointer(std::shared_ptr<SimWorld> world) : world_(std::move(world)) {}
  uint32_t pressedButtons() override;
  bool warp(Point location) override;
  bool associateMouseAndCursor(bool associated) override;

 private:
  std::shared_ptr<SimWorld> world_;
};

}  // namespace quorvel
