#pragma once

#include <functional>
#include <optional>

#include "overlay/DismissKeyRoute.h"
#include "overlay/OverlayKeyboardState.h"
#include "settings/AppSettings.h"

namespace quorvel {

// What the application delegate asks of the switcher overlay: its start, whether it is up, the
// summon, the quick flip, a further press while it is up, the release of the shortcut's modifiers,
// the pre-warm, the dismiss keys the shortcut tap saw, and the cancel. The overlay reports the
// state of its keyboard through the reporter the delegate installs.
//
// Threads: main queue only.
class SwitcherOverlay {
 public:
  using KeyboardReporter = std::function<void(const std::optional<OverlayKeyboardState>&)>;

  virtual ~SwitcherOverlay() = default;

  // Schedules the start-up pre-warm; builds nothing at once.
  virtual void start() = 0;
  virtual bool isVisible() const = 0;
  virtual void present(bool byHotkey, AppSettings::HotkeyScope scope) = 0;
  // The tray menu is about to open: notes the window in front now. Opening the menu, and closing
  // it, may move the focus (a window manager that focuses the window under the pointer gives it to
  // the window under the menu), so a summon from the menu goes by what was in front before.
  virtual void noteMenuOpening() = 0;
  // The menu's summon: present(false, allWindows) that selects the window noted when the menu
  // opened, and returns to its application when cancelled.
  virtual void presentFromMenu() = 0;
  virtual void quickFlip(AppSettings::HotkeyScope scope) = 0;
  // A further shortcut press while the overlay is up: counts it, then steps the selection of the
  // active display's scene by `direction` (+1 or -1). Without an active display or its renderer
  // only the count changes.
  virtual void stepByPress(int direction) = 0;
  virtual void onHotkeyRelease() = 0;
  // Delivers the input the overlay's windows were sent up to now (keys, clicks), so that a key the
  // shortcut's stream carried acts after every key the user typed before it.
  virtual void catchUpInput() = 0;
  virtual void prewarmIfAllowed() = 0;
  virtual void handleTapKey(DismissKeyRoute route) = 0;
  // Takes the application that was in front before the summon (clearing it), activates it when
  // there was one, and dismisses with no chosen card.
  virtual void cancel() = 0;
  // Set once at start-up; replaces (and releases) any reporter set before.
  virtual void setKeyboardReporter(KeyboardReporter reporter) = 0;
};

}  // namespace quorvel
