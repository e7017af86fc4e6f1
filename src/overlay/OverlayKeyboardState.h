#pragma once

#include <optional>

#include "settings/HotkeyBinding.h"

namespace quorvel {

// Which route decided about a dismiss key, as the "Dismiss" log writes it.
enum class DismissLogRoute : int {
  local = 0,      // "local": the overlay's own key handling
  tap = 1,        // "tap": the global shortcut tap's route
  tapRepair = 2,  // "tapRepair": the tap acted because the overlay should have held the keyboard
};

// What a dismiss key did.
enum class DismissOutcome : int {
  leftSearch = 0,         // "left the search, switcher stays up"
  dismissed = 1,          // "dismissed the switcher"
  leftToOverlay = 2,      // "left to the overlay's own keyboard route"
  nothingOnScreen = 3,    // "nothing on screen to dismiss"
};

// What the overlay tells the shortcut manager about the keyboard while it is up: whether its window
// holds the keyboard, and the cancel key its content view answers. Published as an optional; none
// means the overlay is down. Two states are equal when both fields are.
struct OverlayKeyboardState {
  bool holdsKeyboard = false;
  std::optional<HotkeyBinding> cancel;

  bool operator==(const OverlayKeyboardState&) const = default;

  // Writes one line to the "Dismiss" log: the route, the outcome, whether the overlay window was key,
  // whether the application was active, and whether the search is open after the action.
  static void logDismiss(DismissLogRoute route, DismissOutcome outcome, bool keyWindow, bool appActive,
                         bool searchOpen);
  static const char* routeWord(DismissLogRoute route);
  static const char* outcomeText(DismissOutcome outcome);
};

}  // namespace quorvel
