#include "app/ShortcutAdvice.h"

#include <algorithm>
#include <cctype>

#include "platform/KeyEventSource.h"

namespace quorvel {

namespace {

std::string lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
  return out;
}

bool contains(std::string_view haystack, std::string_view needle) {
  return lower(haystack).find(needle) != std::string::npos;
}

constexpr std::string_view kMetacitySchema = "org.gnome.desktop.wm.keybindings";
constexpr std::string_view kMarcoSchema = "org.mate.Marco.global-keybindings";

// The shortcut as shown ("Ctrl+Alt+Tab", "Super+`") taken apart: its modifiers and its key.
struct Parts {
  bool ctrl = false, alt = false, super = false, shift = false;
  std::string key;
};

Parts parts(std::string_view shortcut) {
  Parts p;
  std::string_view rest = shortcut;
  // The key may itself be "+", so the last piece is the key whatever it holds.
  while (true) {
    const size_t plus = rest.find('+');
    if (plus == std::string_view::npos || plus + 1 >= rest.size()) break;
    const std::string word = lower(rest.substr(0, plus));
    if (word == "ctrl" || word == "control") p.ctrl = true;
    else if (word == "alt") p.alt = true;
    else if (word == "super") p.super = true;
    else if (word == "shift") p.shift = true;
    else break;
    rest = rest.substr(plus + 1);
  }
  p.key = std::string(rest);
  return p;
}

// The key's X name, as window managers' configurations write it.
std::string keysymName(std::string_view key) {
  if (key == "`") return "grave";
  if (key == "Esc") return "Escape";
  if (key.size() == 1 && std::isalpha(static_cast<unsigned char>(key[0]))) return lower(key);
  return std::string(key);
}

// Openbox's notation ("A-Tab", "C-W-grave").
std::string openboxKey(const Parts& p, bool shift) {
  std::string out;
  if (p.ctrl) out += "C-";
  if (p.alt) out += "A-";
  if (p.super) out += "W-";
  if (shift) out += "S-";
  return out + keysymName(p.key);
}

// i3's notation ("Mod1+Tab", "Control+Mod4+grave").
std::string i3Key(const Parts& p) {
  std::string out;
  if (p.ctrl) out += "Control+";
  if (p.alt) out += "Mod1+";
  if (p.super) out += "Mod4+";
  return out + keysymName(p.key);
}

std::string quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

std::string openboxAdvice(std::string_view shortcut) {
  std::string which = "the keybind for it";
  if (!shortcut.empty()) {
    const Parts p = parts(shortcut);
    which = "the keybinds with key=" + quoted(openboxKey(p, false)) + " and key=" + quoted(openboxKey(p, true));
  }
  // A fresh account has no rc.xml of its own: openbox then reads the system's, and a file of the
  // user's replaces that one whole, so the user's copy starts from the system's.
  return "In Openbox, if ~/.config/openbox/rc.xml does not exist, copy /etc/xdg/openbox/rc.xml there first (Openbox "
         "reads only one of them); remove " + which + " from its <keyboard> section and run openbox --reconfigure.";
}

std::string i3Advice(std::string_view shortcut) {
  std::string which = "the bindsym line for it";
  if (!shortcut.empty()) which = "the line bindsym " + i3Key(parts(shortcut)) + " (with or without +Shift)";
  return "In i3, remove " + which + " from ~/.config/i3/config (or ~/.i3/config), then reload i3 with i3-msg reload.";
}

std::string metacityGeneral() {
  return "In Metacity, the keys are held by its \"Switch applications\" binding in GSettings; free them with: gsettings "
         "set org.gnome.desktop.wm.keybindings switch-applications \"[]\" and gsettings set "
         "org.gnome.desktop.wm.keybindings switch-applications-backward \"[]\", then restart Metacity with: "
         "metacity --replace & (gsettings list-recursively org.gnome.desktop.wm.keybindings shows any other "
         "binding that holds them).";
}

std::string marcoGeneral() {
  return "In Marco, the keys are held by its \"Move between windows\" binding in GSettings; free them with: gsettings "
         "set org.mate.Marco.global-keybindings switch-windows disabled and gsettings set "
         "org.mate.Marco.global-keybindings switch-windows-backward disabled.";
}

struct ManagerAdvice {
  std::string_view nameContains;
  std::string (*advice)(std::string_view shortcut);
};

// Matched in order on the window manager's name as it announces itself (_NET_WM_NAME of the
// supporting window), lower-cased.
const ManagerAdvice kAdvice[] = {
    {"openbox", openboxAdvice},
    // Bare metacity has no settings window: its bindings live in GSettings.
    {"metacity", [](std::string_view) { return metacityGeneral(); }},
    {"marco", [](std::string_view) { return marcoGeneral(); }},
    {"i3", i3Advice},
    {"xfwm", [](std::string_view) { return std::string("In Xfce, clear it under Window Manager, Keyboard (\"Cycle windows\")."); }},
    {"kwin", [](std::string_view) { return std::string("In KDE Plasma, clear it under Shortcuts, KWin (\"Walk Through Windows\")."); }},
    {"gnome",
     [](std::string_view) {
       return std::string("In GNOME, clear it under Keyboard, Keyboard Shortcuts, Navigation (\"Switch windows\" and "
                          "\"Switch applications\").");
     }},
    {"mutter",
     [](std::string_view) {
       return std::string("In GNOME, clear it under Keyboard, Keyboard Shortcuts, Navigation (\"Switch windows\" and "
                          "\"Switch applications\").");
     }},
    {"icewm", [](std::string_view) { return std::string("In IceWM, set QuickSwitch=0 in ~/.icewm/preferences and restart IceWM."); }},
    {"fluxbox", [](std::string_view) { return std::string("In Fluxbox, remove its line from ~/.fluxbox/keys and reload the configuration."); }},
};

constexpr std::string_view kGeneralHint =
    "Free it in the window manager's keyboard settings (often called \"Cycle windows\" or \"Switch windows\").";

std::string adviceFor(std::string_view windowManagerName, std::string_view shortcut) {
  const std::string name = lower(windowManagerName);
  for (const auto& entry : kAdvice) {
    if (name.find(entry.nameContains) != std::string::npos) return entry.advice(shortcut);
  }
  return std::string(kGeneralHint);
}

std::string opening(std::string_view shortcut) {
  std::string out(shortcut.empty() ? std::string_view("The shortcut") : shortcut);
  return out + " is taken by another program, usually the window manager. ";
}

// "a", "a and b", "a, b and c".
std::string listed(const std::vector<std::string>& items) {
  std::string out;
  for (size_t i = 0; i < items.size(); ++i) {
    if (i > 0) out += i + 1 == items.size() ? " and " : ", ";
    out += items[i];
  }
  return out;
}

// An accelerator as GSettings stores it ("<Shift><Alt>Tab") taken apart.
Parts accelerator(std::string_view text) {
  Parts p;
  while (!text.empty() && text.front() == '<') {
    const size_t close = text.find('>');
    if (close == std::string_view::npos) break;
    const std::string word = lower(text.substr(1, close - 1));
    if (word == "control" || word == "ctrl" || word == "primary") p.ctrl = true;
    else if (word == "alt" || word == "mod1") p.alt = true;
    else if (word == "super" || word == "mod4") p.super = true;
    else if (word == "shift") p.shift = true;
    text = text.substr(close + 1);
  }
  p.key = std::string(text);
  return p;
}

// Metacity's own name for the key above Tab, and X's names, against the names the program shows.
bool sameKey(std::string_view acceleratorKey, std::string_view keyName) {
  const std::string a = lower(acceleratorKey);
  const std::string k = lower(keyName);
  if (k == "`") return a == "grave" || a == "above_tab";
  if (k == "esc") return a == "escape";
  return a == k;
}

std::string listValue(const std::vector<std::string>& accelerators) {
  std::string out = "\"[";
  for (size_t i = 0; i < accelerators.size(); ++i) {
    if (i > 0) out += ", ";
    out += "'" + accelerators[i] + "'";
  }
  return out + "]\"";
}

}  // namespace

std::string ShortcutAdvice::howToFree(std::string_view windowManagerName) { return adviceFor(windowManagerName, {}); }

std::string ShortcutAdvice::text(std::string_view windowManagerName, std::string_view shortcut) {
  return opening(shortcut) + adviceFor(windowManagerName, shortcut);
}

std::string_view ShortcutAdvice::gsettingsSchema(std::string_view windowManagerName) {
  if (contains(windowManagerName, "metacity")) return kMetacitySchema;
  if (contains(windowManagerName, "marco")) return kMarcoSchema;
  return {};
}

std::vector<ShortcutAdvice::GsettingsKey> ShortcutAdvice::holding(const std::vector<GsettingsKey>& schemaKeys,
                                                                  uint64_t modifierFlags, std::string_view keyName) {
  const bool ctrl = modifierFlags & KeyFlags::control;
  const bool alt = modifierFlags & KeyFlags::option;
  const bool super = modifierFlags & KeyFlags::command;
  std::vector<GsettingsKey> out;
  for (const GsettingsKey& key : schemaKeys) {
    GsettingsKey kept{key.name, {}, key.isList};
    bool holds = false;
    for (const std::string& text : key.accelerators) {
      const Parts p = accelerator(text);
      if (p.ctrl == ctrl && p.alt == alt && p.super == super && sameKey(p.key, keyName)) {
        holds = true;
      } else if (lower(text) != "disabled") {
        kept.accelerators.push_back(text);
      }
    }
    if (holds) out.push_back(std::move(kept));
  }
  return out;
}

std::string ShortcutAdvice::text(std::string_view windowManagerName, std::string_view shortcut,
                                 const std::vector<GsettingsKey>& holders) {
  const std::string_view schema = gsettingsSchema(windowManagerName);
  if (holders.empty() || schema.empty()) return text(windowManagerName, shortcut);
  const std::string manager = schema == kMarcoSchema ? "Marco" : "Metacity";
  std::vector<std::string> names;
  std::vector<std::string> commands;
  bool emptied = false;
  for (const GsettingsKey& key : holders) {
    names.push_back(key.name);
    // The key keeps its other accelerators; only the ones that hold the shortcut go.
    const std::string value = key.isList ? listValue(key.accelerators) : std::string("disabled");
    emptied |= key.isList && key.accelerators.empty();
    commands.push_back("gsettings set " + std::string(schema) + " " + key.name + " " + value);
  }
  std::string out = opening(shortcut) + "In " + manager + ", it is held by " +
                    (names.size() == 1 ? "the binding " : "the bindings ") + listed(names) + " of " +
                    std::string(schema) + " in GSettings; free it with: " + listed(commands) + ".";
  // A running Metacity keeps the keys of a binding that is emptied until it starts again.
  if (emptied && schema == kMetacitySchema) out += " Then restart Metacity with: metacity --replace &";
  return out;
}

}  // namespace quorvel
