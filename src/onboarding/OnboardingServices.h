#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "app/LoginItem.h"
#include "app/ShortcutAdvice.h"
#include "base/Subscription.h"
#include "settings/AppSettings.h"

namespace quorvel {

class ChromeWindowCensus;
class Executor;
class KeyNames;

// Whether one of the things the switcher needs from the desktop is there: the shortcut's keys (free
// for us, or held by another program), the window pictures (the X server's Composite extension),
// and the browsers' tabs (the desktop's accessibility bus).
enum class ReadinessStanding { waiting, allowed };

// What the tour and the "Shortcut needed" window use of the rest of the program, handed in by
// whoever makes them. Every function is called on the main executor and answers at once.
struct OnboardingServices {
  AppSettings& settings;
  Executor& main;
  ChromeWindowCensus& census;
  const KeyNames& keyNames;

  // True while a key of the summon shortcut is held by another program (the window manager,
  // usually), so that pressing it never reaches the switcher.
  std::function<bool()> shortcutHeldElsewhere;
  // Asks once more for the shortcut's keys that another program held (they may have been freed).
  std::function<void()> askForShortcutAgain;
  // Whether the X server offers pictures of windows (Composite).
  std::function<bool()> windowPicturesAvailable;
  // Whether browsers' tabs can be read: the accessibility bus answers and assistive technology is on.
  std::function<bool()> browserTabsReadable;
  // Whether another program holds a shortcut's keys: the advice that says whose they are and how
  // to free them, or none while they are free; none: the advice is worked out from the manager's name.
  std::function<std::optional<AdviceText>(const HotkeyBinding&)> shortcutTaken;
  // Follows the keys of the shortcuts (the key above Tab's among them) changing hands: taken by
  // another program, or the switcher's again. The subscription ends the following.
  std::function<Subscription(std::function<void()>)> observeShortcutOwners;
  // The running window manager's name ("Openbox", "Xfwm4"...); empty when it gives none.
  std::function<std::string()> windowManagerName;

  // Launch at login.
  std::function<LoginItem::Result(bool wanted)> setLoginItem;
  std::function<bool()> loginItemEnabled;
  // Whether the machine has a touchpad: without one the tour says nothing of swipes.
  std::function<bool()> touchpadPresent;
  // Whether something on the desktop is known to answer the summon swipe itself.
  std::function<bool(AppSettings::SummonGesture, AppSettings::SummonSwipeDirection)> swipeConflicts;
  // Follows the switcher's summons and quick flips; the subscription ends the following.
  std::function<Subscription(std::function<void()>)> observeSummons;

  // The shortcut recorder on the shortcut page: pauses (true) and resumes (false) the global
  // shortcut while it records; the virtual key code of a native key code.
  std::function<void(bool)> suspendShortcuts;
  std::function<std::optional<int64_t>(uint32_t nativeKeyCode)> virtualKeyCode;

  // Opens the settings window on its Shortcuts pane (or brings it forward there).
  std::function<void()> showShortcutSettings;
  // The tour's window closed (finished or not).
  std::function<void()> tourClosed;
  // Ends the program.
  std::function<void()> quit;
};

}  // namespace quorvel
