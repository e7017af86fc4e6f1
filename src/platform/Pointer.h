#pragma once

#include <cstdint>
#include <optional>

#include "base/Geometry.h"

namespace quorvel {

// The mouse pointer, as the window actions move it: which buttons are held, and a jump of the
// pointer to a place on screen. Coordinates are global, top-left origin, in points.
class Pointer {
 public:
  // Button bits of pressedButtons(), in the platform's order: bit 0 the primary (left) button,
  // bit 1 the secondary (right) button, bit 2 the middle button, higher bits further buttons.
  static constexpr uint32_t kPrimaryButton = 1u << 0;
  static constexpr uint32_t kSecondaryButton = 1u << 1;
  static constexpr uint32_t kMiddleButton = 1u << 2;

  virtual ~Pointer() = default;
  // The buttons held down now; 0 when none is, or when it cannot be asked.
  virtual uint32_t pressedButtons() = 0;
  // Where the pointer is now (global, top-left origin); none when it cannot be asked.
  virtual std::optional<Point> location() { return std::nullopt; }
  // Moves the pointer to `location` without generating mouse movement of its own; true when the
  // move was made.
  virtual bool warp(Point location) = 0;
  // After a warp: lets mouse movement drive the pointer again (`associated` true) or not.
  virtual bool associateMouseAndCursor(bool associated) = 0;
};

}  // namespace quorvel
