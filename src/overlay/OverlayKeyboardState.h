#pragma once

#include <optional>

#include "settings/HotkeyBinding.h"

namespace quorvel {

// What the overlay tells the shortcut manager about the keyboard while it is up: whether its window
// holds the keyboard, and the cancel key its content view answers. Published as an optional; none
// means the overlay is down. Two states are equal when both fields are.
struct OverlayKeyboardState {
  bool holdsKeyboard = false;
  std::optional<HotkeyBinding> cancel;

  bool operator==(const OverlayKeyboardState&) const = default;
};

}  // namespace quorvel
