#include "app/ShortcutAdvice.h"

#include <algorithm>
#include <cctype>

namespace quorvel {

namespace {

std::string lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
  return out;
}

struct ManagerAdvice {
  std::string_view nameContains;
  std::string_view advice;
};

// Matched in order on the window manager's name as it announces itself (_NET_WM_NAME of the
// supporting window), lower-cased.
constexpr ManagerAdvice kAdvice[] = {
    // A fresh account has no rc.xml of its own: openbox then reads the system's, and a file of the
    // user's replaces that one whole, so the user's copy starts from the system's.
    {"openbox",
     "In Openbox, if ~/.config/openbox/rc.xml does not exist, copy /etc/xdg/openbox/rc.xml there first (Openbox "
     "reads only one of them); remove the keybind for it from the <keyboard> section and run openbox --reconfigure."},
    // Bare metacity has no settings window: its bindings live in GSettings.
    {"metacity",
     "In Metacity, the keys are held by its \"Switch applications\" binding in GSettings; free them with: gsettings "
     "set org.gnome.desktop.wm.keybindings switch-applications \"[]\" and gsettings set "
     "org.gnome.desktop.wm.keybindings switch-applications-backward \"[]\" (gsettings list-recursively "
     "org.gnome.desktop.wm.keybindings shows any other binding that holds them)."},
    {"marco",
     "In Marco, the keys are held by its \"Move between windows\" binding in GSettings; free them with: gsettings "
     "set org.mate.Marco.global-keybindings switch-windows disabled and gsettings set "
     "org.mate.Marco.global-keybindings switch-windows-backward disabled."},
    {"i3",
     "In i3, remove the bindsym line for it from ~/.config/i3/config (or ~/.i3/config), then reload i3 with "
     "i3-msg reload."},
    {"xfwm", "In Xfce, clear it under Window Manager, Keyboard (\"Cycle windows\")."},
    {"kwin", "In KDE Plasma, clear it under Shortcuts, KWin (\"Walk Through Windows\")."},
    {"gnome",
     "In GNOME, clear it under Keyboard, Keyboard Shortcuts, Navigation (\"Switch windows\" and \"Switch "
     "applications\")."},
    {"mutter",
     "In GNOME, clear it under Keyboard, Keyboard Shortcuts, Navigation (\"Switch windows\" and \"Switch "
     "applications\")."},
    {"icewm", "In IceWM, set QuickSwitch=0 in ~/.icewm/preferences and restart IceWM."},
    {"fluxbox", "In Fluxbox, remove its line from ~/.fluxbox/keys and reload the configuration."},
};

constexpr std::string_view kGeneralHint =
    "Free it in the window manager's keyboard settings (often called \"Cycle windows\" or \"Switch windows\").";

}  // namespace

std::string ShortcutAdvice::howToFree(std::string_view windowManagerName) {
  const std::string name = lower(windowManagerName);
  for (const auto& entry : kAdvice) {
    if (name.find(entry.nameContains) != std::string::npos) return std::string(entry.advice);
  }
  return std::string(kGeneralHint);
}

std::string ShortcutAdvice::text(std::string_view windowManagerName, std::string_view shortcut) {
  std::string out(shortcut.empty() ? std::string_view("The shortcut") : shortcut);
  out += " is taken by another program, usually the window manager. ";
  out += howToFree(windowManagerName);
  return out;
}

}  // namespace quorvel
