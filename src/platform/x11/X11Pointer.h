#pragma once

#include <memory>

#include "platform/Pointer.h"

namespace quorvel {

class X11Backend;

// The core pointer of an X session. Held buttons come from a pointer query on the root window
// (buttons 1, 3 and 2 as the primary, secondary and middle bits; the wheel's buttons 4 and 5 are
// momentary and never count as held); a warp moves the pointer to a place on the root window. X
// never separates the mouse from the pointer, so re-associating them has nothing to do.
class X11Pointer final : public Pointer {
 public:
  explicit X11Pointer(std::shared_ptr<X11Backend> backend);

  uint32_t pressedButtons() override;
  std::optional<Point> location() override;
  bool warp(Point location) override;
  bool associateMouseAndCursor(bool associated) override;

 private:
  std::shared_ptr<X11Backend> backend_;
};

}  // namespace quorvel
