#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/Geometry.h"

namespace quorvel {

// The phases of a scroll gesture, as bits (a trackpad reports them; a mouse wheel reports none).
struct ScrollPhase {
  static constexpr uint32_t none = 0;
  static constexpr uint32_t began = 1;
  static constexpr uint32_t changed = 2;
  static constexpr uint32_t stationary = 4;
  static constexpr uint32_t ended = 8;
  static constexpr uint32_t cancelled = 16;
  static constexpr uint32_t mayBegin = 32;
};

// The modifier bits of overlay events: the program's own vocabulary (the settings store them).
struct OverlayModifiers {
  static constexpr int64_t shift = 0x20000;
  static constexpr int64_t control = 0x40000;
  static constexpr int64_t option = 0x80000;
  static constexpr int64_t command = 0x100000;
};

// A key press delivered to the overlay: the key code in the program's vocabulary, the modifier bits
// held and the text the key types (none for keys that type nothing).
struct OverlayKeyEvent {
  int64_t keyCode = 0;
  int64_t modifierFlags = 0;
  std::optional<std::string> characters;
  double timestamp = 0;
};

// A scroll: the precise deltas (points) when the device has them, else line deltas; phases of the
// gesture and of its momentum. Positive x scrolls left-to-right content to the right.
struct OverlayScrollEvent {
  double timestamp = 0;
  double scrollingDeltaX = 0, scrollingDeltaY = 0;
  double deltaX = 0, deltaY = 0;
  uint32_t phase = ScrollPhase::none;
  uint32_t momentumPhase = ScrollPhase::none;
};

// A pointer event: the location in the content view (points, origin bottom left, y up), the move
// since the previous event (y down, as the window system reports it) and the button (0 primary,
// 1 secondary, 2 middle).
struct OverlayPointerEvent {
  Point location;
  double deltaX = 0, deltaY = 0;
  double timestamp = 0;
  int buttonNumber = 0;
};

}  // namespace quorvel
