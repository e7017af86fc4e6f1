#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/LoginItem.h"
#include "app/ShortcutAdvice.h"
#include "base/Subscription.h"
#include "platform/DesktopStill.h"
#include "settings/HotkeyBinding.h"
#include "settings_ui/SettingsFileFlows.h"

namespace quorvel {

class AppSettings;
class ChromeWindowCensus;
class Executor;
class KeyNames;

// An application the user can pick for a list: its window class (what the lists store), the name
// people know it by and its icon file (empty when it has none).
struct AppChoice {
  std::string identifier;
  std::string name;
  std::string iconFile;
  bool operator==(const AppChoice&) const = default;
};

// What the settings window uses of the rest of the program, handed in by whoever makes it.
struct SettingsWindowServices {
  AppSettings& settings;
  Executor& main;
  ChromeWindowCensus& census;
  const KeyNames& keyNames;
  // Launch at login.
  std::function<LoginItem::Result(bool wanted)> setLoginItem;
  std::function<bool()> loginItemEnabled;
  // Suspends (true) and resumes (false) the global shortcut while a shortcut is recorded.
  std::function<void(bool)> suspendShortcuts;
  // Whether another program holds a shortcut's keys: the advice that says whose they are and how
  // to free them, or none while they are free. Asked of a combination about to be recorded and of
  // the shortcuts set; none: every shortcut counts as free.
  using TakenCheck = std::function<std::optional<AdviceText>(const HotkeyBinding&)>;
  TakenCheck shortcutTaken;
  // Follows the changes of who holds the shortcuts' keys; the subscription ends the following.
  std::function<Subscription(std::function<void()>)> observeShortcutOwners;
  // The program's virtual key code of a key event's native key code; none for keys it does not know.
  std::function<std::optional<int64_t>(uint32_t nativeKeyCode)> virtualKeyCode;
  // The applications a list can take: the desktop's entries and the running applications.
  std::function<std::vector<AppChoice>()> applications;
  // Runs before every show (the keyboard layout is read again there).
  std::function<void()> beforeShow;
  // Runs when the window is closed, while it still shows.
  std::function<void()> onClose;
  // The desktop's switch for animations: on, off, or none where the desktop publishes none.
  std::function<std::optional<bool>()> desktopAnimations;
  // Opens the feedback form (or brings it forward); none: the About pane offers no feedback button.
  std::function<void()> sendFeedback;
  // Shows the first-run tour again from its first page; none: the About pane offers no tour button.
  std::function<void()> showTour;
  // Asks for a still of the desktop, 640 pixels wide, that shows none of this program's windows;
  // the answer (none when there is no such picture to be had) comes later, on the main executor.
  std::function<void(std::function<void(std::optional<DesktopStill>)>)> desktopStill;
  // Whether the desktop lets the switcher choose how strongly the backdrop is blurred.
  bool blurAdjustable = false;
  // The file dialogs; empty members use the toolkit's own dialogs.
  SettingsFileFlows::Dialogs dialogs;
};

}  // namespace quorvel
