#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "app/HotkeyPress.h"
#include "overlay/DismissKeyRoute.h"
#include "overlay/OverlayKeyboardState.h"
#include "platform/KeyEventSource.h"
#include "settings/AppSettings.h"

namespace quorvel {

// One armed summon shortcut: its key, the modifiers it requires and the ones it forbids (the
// shortcut modifiers it does not hold). Shift is neither; the lock keys and Function are ignored.
struct HotkeyMatchEntry {
  int64_t keyCode = 0;
  uint64_t requiredFlags = 0;
  uint64_t forbiddenFlags = 0;
  AppSettings::HotkeyScope scope = AppSettings::HotkeyScope::allWindows;

  static HotkeyMatchEntry from(const HotkeyBinding& binding, AppSettings::HotkeyScope scope);
  // f holds every required bit and no forbidden one.
  bool modifiersSatisfied(uint64_t flags) const {
    return (flags & requiredFlags) == requiredFlags && (flags & forbiddenFlags) == 0;
  }
  bool operator==(const HotkeyMatchEntry&) const = default;
};

// When the modifiers were last reported held for a pre-warm (seconds on the media clock).
struct PrewarmGate {
  static constexpr double interval = 5.0;
  std::optional<double> lastWarm;
};

// The key-down matcher's answer.
struct TapKeyDecision {
  enum class Kind { pass, press, dismissKey };
  Kind kind = Kind::pass;
  int direction = 1;  // press: +1 or -1
  HotkeyPress press = HotkeyPress::shortcut;
  AppSettings::HotkeyScope scope = AppSettings::HotkeyScope::allWindows;
  DismissKeyRoute route = DismissKeyRoute::notADismissKey;  // dismissKey

  static TapKeyDecision pass() { return {}; }
  static TapKeyDecision pressOf(int direction, HotkeyPress press, AppSettings::HotkeyScope scope) {
    return {Kind::press, direction, press, scope, DismissKeyRoute::notADismissKey};
  }
  static TapKeyDecision dismiss(DismissKeyRoute route) {
    TapKeyDecision d;
    d.kind = Kind::dismissKey;
    d.route = route;
    return d;
  }
  bool operator==(const TapKeyDecision&) const = default;
};

// The flags matcher's answer.
struct FlagsDecision {
  bool released = false;
  bool prewarm = false;
  bool operator==(const FlagsDecision&) const = default;
};

// The state the shortcut tap decides on, shared between the main thread and the tap thread. It lives
// only inside the tap context's box and is read and written under the box's lock; the matchers are
// plain functions of it with no side effect beyond its own fields.
struct HotkeyMatchState {
  static constexpr int64_t escapeKeyCode = 53;

  std::vector<HotkeyMatchEntry> entries;  // binding 1 first
  bool graveCyclesBackward = false;
  bool isSuspended = false;  // the shortcut recorder is recording
  bool passThroughActive = false;
  std::optional<uint64_t> armedFlags;  // the required flags of the entry that last matched
  std::optional<OverlayKeyboardState> overlay;  // none while the overlay is down
  PrewarmGate prewarm;

  // A key-down of key code `k` with flags `f`: a summon press (arms its modifiers), Tab while the
  // armed modifiers are held (a step, whatever the shortcut's key), a dismiss key while the overlay
  // is up, or pass. Escape that came while the source held the whole keyboard (`keyboardHeld`:
  // from a summon's press until the switcher's window takes it) reached no window: the tap acts on it.
  TapKeyDecision matchKeyDown(int64_t k, uint64_t f, bool keyboardHeld = false);
  // A flags change to `f` at media time `now`: whether the armed modifiers were released, and
  // whether a pre-warm is due (at most once every 5 s, only while the overlay is down).
  FlagsDecision matchFlags(uint64_t f, double now);
  // The key-downs the source must show the tap: each entry's key and the keys above Tab for an
  // entry on Tab while they step backward, each once, in that order. Escape and the cancel key are
  // not among them: the overlay holds the whole keyboard while it is up, so they reach it without
  // a grab of the stream's (and a window manager's binding on Escape is nobody's concern here).
  std::vector<KeyInterest> interest() const;
};

}  // namespace quorvel
