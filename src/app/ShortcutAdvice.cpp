#include "app/ShortcutAdvice.h"

#include <algorithm>
#include <cctype>
#include <map>

#include "platform/KeyEventSource.h"

namespace quorvel {

AdviceText::AdviceText(std::string prose) {
  if (!prose.empty()) parts.push_back({Part::Kind::prose, std::move(prose)});
}

AdviceText& AdviceText::say(std::string_view prose) {
  if (prose.empty()) return *this;
  if (!parts.empty() && parts.back().kind == Part::Kind::prose) {
    parts.back().text += " ";
    parts.back().text += prose;
  } else {
    parts.push_back({Part::Kind::prose, std::string(prose)});
  }
  return *this;
}

AdviceText& AdviceText::command(std::string text) {
  parts.push_back({Part::Kind::command, std::move(text)});
  return *this;
}

AdviceText& AdviceText::fileLines(const std::vector<std::string>& lines) {
  if (lines.empty()) return *this;
  std::string text;
  for (const std::string& line : lines) text += (text.empty() ? "" : "\n") + line;
  parts.push_back({Part::Kind::fileLines, std::move(text)});
  return *this;
}

AdviceText& AdviceText::append(const AdviceText& more) {
  for (const Part& part : more.parts) {
    if (part.kind == Part::Kind::prose) say(part.text);
    else parts.push_back(part);
  }
  return *this;
}

std::string AdviceText::plain() const {
  std::string out;
  for (const Part& part : parts) {
    if (part.kind == Part::Kind::prose) {
      if (!out.empty()) out += "\n";
      out += part.text;
      continue;
    }
    // Set apart by an indent, line by line.
    if (!out.empty()) out += "\n";
    out += "    ";
    for (const char c : part.text) out += c == '\n' ? std::string("\n    ") : std::string(1, c);
  }
  return out;
}

std::string AdviceText::heldBy() const {
  switch (holder) {
    case Holder::windowManager:
      return holderName.empty() ? "the window manager" : "the window manager, " + holderName;
    case Holder::anotherProgram: return "another program, not by the window manager";
    case Holder::unknown: break;
  }
  return "another program, usually the window manager";
}

namespace {

std::string lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return std::tolower(c); });
  return out;
}

bool contains(std::string_view haystack, std::string_view needle) {
  return lower(haystack).find(needle) != std::string::npos;
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  return text;
}

std::vector<std::string_view> split(std::string_view text, char separator) {
  std::vector<std::string_view> out;
  while (true) {
    const size_t at = text.find(separator);
    out.push_back(text.substr(0, at));
    if (at == std::string_view::npos) return out;
    text.remove_prefix(at + 1);
  }
}

constexpr std::string_view kMetacitySchema = "org.gnome.desktop.wm.keybindings";
constexpr std::string_view kMarcoSchema = "org.mate.Marco.global-keybindings";

// A shortcut taken apart: its modifiers and its key. `other` for a modifier the switcher never uses
// (Hyper, Mod3, Mod5), which no shortcut of the switcher's matches.
struct Parts {
  bool ctrl = false, alt = false, super = false, shift = false, other = false;
  std::string key;
};

// The shortcut as shown ("Ctrl+Alt+Tab", "Super+`", "Alt+Left Arrow").
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

// The X names of the keys the program shows by another name, as window managers' files write them.
const std::map<std::string_view, std::string_view>& keysymNames() {
  static const std::map<std::string_view, std::string_view> names = {
      {"`", "grave"}, {"-", "minus"}, {"=", "equal"}, {"[", "bracketleft"}, {"]", "bracketright"},
      {"\\", "backslash"}, {";", "semicolon"}, {"'", "apostrophe"}, {",", "comma"}, {".", "period"},
      {"/", "slash"}, {"Esc", "Escape"}, {"Space", "space"}, {"Return", "Return"}, {"Enter", "KP_Enter"},
      {"Delete", "BackSpace"}, {"Forward Delete", "Delete"}, {"Help", "Insert"}, {"Home", "Home"}, {"End", "End"},
      {"Page Up", "Prior"}, {"Page Down", "Next"}, {"Left Arrow", "Left"}, {"Right Arrow", "Right"},
      {"Up Arrow", "Up"}, {"Down Arrow", "Down"}, {"Numpad .", "KP_Decimal"}, {"Numpad /", "KP_Divide"},
      {"Numpad =", "KP_Equal"}, {"Numpad -", "KP_Subtract"}, {"Numpad *", "KP_Multiply"}, {"Numpad +", "KP_Add"},
      {"Numpad Clear", "Num_Lock"},
  };
  return names;
}

// The key's X name ("Tab", "grave", "Left", "k"), as window managers' files write it.
std::string keysymName(std::string_view key) {
  const auto& names = keysymNames();
  if (const auto found = names.find(key); found != names.end()) return std::string(found->second);
  if (key.size() == 8 && key.substr(0, 7) == "Numpad " && std::isdigit(static_cast<unsigned char>(key[7]))) {
    return "KP_" + std::string(1, key[7]);
  }
  if (key.size() == 1 && std::isalpha(static_cast<unsigned char>(key[0]))) return lower(key);
  return std::string(key);
}

// Two X key names for one key, whatever the spelling: the program's names, X's, and the other
// names X and the managers accept for the same key.
bool sameKey(std::string_view written, std::string_view keyName) {
  auto canonical = [](std::string_view name) {
    std::string out = lower(name);
    if (out == "above_tab") return std::string("grave");
    if (out == "page_up") return std::string("prior");
    if (out == "page_down") return std::string("next");
    if (out == "esc") return std::string("escape");
    if (out == "del") return std::string("delete");
    if (out == "ins") return std::string("insert");
    return out;
  };
  return canonical(written) == canonical(keysymName(keyName));
}

bool sameModifiers(const Parts& a, bool ctrl, bool alt, bool super) {
  return !a.other && a.ctrl == ctrl && a.alt == alt && a.super == super;
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

// "a", "a and b", "a, b and c".
std::string listed(const std::vector<std::string>& items) {
  std::string out;
  for (size_t i = 0; i < items.size(); ++i) {
    if (i > 0) out += i + 1 == items.size() ? " and " : ", ";
    out += items[i];
  }
  return out;
}

// A path as a shell takes it: plain when it holds nothing the shell reads, else quoted after "~/".
std::string shellPath(std::string_view path) {
  const bool plain = std::all_of(path.begin(), path.end(), [](unsigned char c) {
    return std::isalnum(c) || std::string_view("~/._-+@%:,").find(static_cast<char>(c)) != std::string_view::npos;
  });
  if (plain) return std::string(path);
  if (path.substr(0, 2) == "~/") return "~/'" + std::string(path.substr(2)) + "'";
  return "'" + std::string(path) + "'";
}

std::string folderOf(std::string_view path) {
  const size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(0, slash));
}

// The way to make the user's own copy of the system's file the manager reads now.
void copyFirst(AdviceText& out, std::string_view manager, const std::string& systemFile, const std::string& userFile) {
  out.say("In " + std::string(manager) + ", first copy the system's configuration into your own folder (" +
          std::string(manager) + " reads only one):");
  out.command("mkdir -p " + shellPath(folderOf(userFile)) + " && cp " + shellPath(systemFile) + " " +
              shellPath(userFile));
}

AdviceText openboxAdvice(std::string_view shortcut, const ShortcutAdvice::Findings& found) {
  std::vector<std::string> keys = found.bindings;
  if (keys.empty() && !shortcut.empty()) {
    const Parts p = parts(shortcut);
    keys = {openboxKey(p, false), openboxKey(p, true)};
  }
  std::vector<std::string> attributes;
  for (const std::string& key : keys) attributes.push_back("key=" + quoted(key));
  const std::string which = attributes.empty()    ? std::string("the keybind for it")
                            : attributes.size() == 1 ? "the keybind with " + attributes.front()
                                                     : "the keybinds with " + listed(attributes);
  const std::string userFile = found.userFile.empty() ? "~/.config/openbox/rc.xml" : found.userFile;
  AdviceText out;
  if (!found.systemFile.empty()) {
    copyFirst(out, "Openbox", found.systemFile, userFile);
    out.say("Then remove " + which + " from the <keyboard> section of " + userFile + ", and reload Openbox:");
  } else if (found.managerHolds) {
    out.say("In Openbox, remove " + which + " from the <keyboard> section of " + userFile + ", and reload Openbox:");
  } else {
    // Not known whether the user has a file of their own: a copy that never replaces one.
    out.say("In Openbox, if you have no " + userFile +
            " yet, copy the system's there first (Openbox reads only one of them):");
    out.command("mkdir -p " + shellPath(folderOf(userFile)) + " && cp -n /etc/xdg/openbox/rc.xml " + shellPath(userFile));
    out.say("Then remove " + which + " from its <keyboard> section, and reload Openbox:");
  }
  out.command("openbox --reconfigure");
  return out;
}

AdviceText i3Advice(std::string_view shortcut, const ShortcutAdvice::Findings& found) {
  const std::string userFile = found.userFile.empty() ? "~/.config/i3/config" : found.userFile;
  AdviceText out;
  const bool copied = !found.systemFile.empty();
  if (copied) copyFirst(out, "i3", found.systemFile, userFile);
  if (!found.bindings.empty()) {
    // The lines are the file's, to be taken out of it in an editor: never a command to run.
    out.say(std::string(copied ? "Then, in " : "In ") + userFile + ", remove " +
            (found.bindings.size() == 1 ? "this line:" : "these lines:"));
    out.fileLines(found.bindings);
  } else {
    const std::string which =
        shortcut.empty() ? std::string("the bindsym line for it")
                         : "the bindsym line for " + i3Key(parts(shortcut)) + " (with or without +Shift)";
    const std::string where = found.managerHolds || copied
                                  ? userFile
                                  : userFile + " (or ~/.i3/config; with neither, copy /etc/i3/config there first)";
    out.say(std::string(copied ? "Then remove " : "In i3, remove ") + which + " from " + where + ".");
  }
  // A reload reads the file i3 started with again; only a restart finds the user's new copy.
  if (found.managerHolds && !copied) {
    out.say("Then reload i3:");
    out.command("i3-msg reload");
  } else {
    out.say("Then restart i3, which keeps your windows:");
    out.command("i3-msg restart");
  }
  return out;
}

// IceWM: a key of its preferences (its window switching's keys go with QuickSwitch=0, any other is
// set to nothing; a later line of the preferences wins over an earlier one) or a line of its keys
// file holds it. It reads only the first preferences and keys file it finds.
AdviceText icewmAdvice(std::string_view, const ShortcutAdvice::Findings& found) {
  const std::string preferences = found.userFile.empty() ? "~/.icewm/preferences" : found.userFile;
  AdviceText out;
  const bool unknown = found.bindings.empty() && found.keysLines.empty();
  std::string lead = "In IceWM, ";
  auto say = [&out, &lead](std::string text) {
    if (lead.empty() && !text.empty()) text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    out.say(lead + text);
    lead.clear();
  };
  auto copyFirst = [&](const std::string& what, const std::string& systemFile, const std::string& userFile) {
    say("first copy the system's " + what +
        " into your own folder (IceWM reads only one):");
    out.command("mkdir -p " + shellPath(folderOf(userFile)) + " && cp " + shellPath(systemFile) + " " +
                shellPath(userFile));
  };
  if (unknown || !found.bindings.empty()) {
    bool switching = unknown;
    std::vector<std::string> others;
    for (const std::string& binding : found.bindings) {
      if (binding.starts_with("KeySysSwitch")) switching = true;
      else others.push_back(binding.substr(0, binding.find('=')));
    }
    if (!found.bindings.empty()) {
      say(listed(found.bindings) + (found.bindings.size() == 1 ? " holds it." : " hold it."));
    }
    if (!found.systemFile.empty()) copyFirst("preferences", found.systemFile, preferences);
    std::vector<std::string> changes;
    if (switching) changes.push_back("turn its window switching off (QuickSwitch=0)");
    if (!others.empty()) changes.push_back("set " + listed(others) + " to nothing");
    say(std::string(found.systemFile.empty() ? "" : "then ") + listed(changes) + " in " + preferences + ":");
    // The folder may not be there yet unless the copy made it.
    const std::string folder =
        found.systemFile.empty() ? "mkdir -p " + shellPath(folderOf(preferences)) + " && " : std::string();
    if (switching) out.command(folder + "echo QuickSwitch=0 >> " + shellPath(preferences));
    for (const std::string& name : others) {
      out.command((switching ? std::string() : folder) + "echo '" + name + "=\"\"' >> " + shellPath(preferences));
    }
  }
  if (!found.keysLines.empty()) {
    const std::string keysFile = found.keysFile.empty() ? "~/.icewm/keys" : found.keysFile;
    const bool one = found.keysLines.size() == 1;
    if (!found.keysSystemFile.empty()) copyFirst("keys file", found.keysSystemFile, keysFile);
    // The lines are the file's, to be taken out of it in an editor: never a command to run.
    const std::string lines = one ? "this line:" : "these lines:";
    if (!found.keysSystemFile.empty()) say("then, in " + keysFile + ", remove " + lines);
    else if (!lead.empty()) say("remove " + lines.substr(0, lines.size() - 1) + " from " + keysFile + ":");
    else out.say("In " + keysFile + ", remove " + lines);
    out.fileLines(found.keysLines);
  }
  out.say("Then restart IceWM:");
  out.command("icewm -r");
  return out;
}

// Metacity and Marco keep their bindings in GSettings.
AdviceText gsettingsAdvice(std::string_view schema, const ShortcutAdvice::Findings& found) {
  const bool marco = schema == kMarcoSchema;
  const std::string manager = marco ? "Marco" : "Metacity";
  AdviceText out;
  if (found.gsettingsHolders.empty()) {
    out.say("In " + manager + ", the key bindings are kept in GSettings. This lists them, to find the one that "
            "holds it:");
    out.command("gsettings list-recursively " + std::string(schema));
    out.say(marco ? "Then set that binding to disabled with gsettings set."
                  : "Then take the shortcut out of that binding's list with gsettings set, keeping its other keys.");
    return out;
  }
  std::vector<std::string> names;
  for (const auto& key : found.gsettingsHolders) names.push_back(key.name);
  const bool one = names.size() == 1;
  out.say("In " + manager + ", it is held by the binding" + (one ? " " : "s ") + listed(names) + " of " +
          std::string(schema) + " in GSettings. " + (one ? "This command takes" : "These commands take") +
          " it out and keep" + (one ? "s" : "") + " the other keys:");
  bool emptied = false;
  for (const auto& key : found.gsettingsHolders) {
    std::string value = "disabled";
    if (key.isList) {
      value = "\"[";
      for (size_t i = 0; i < key.accelerators.size(); ++i) value += (i ? ", '" : "'") + key.accelerators[i] + "'";
      value += "]\"";
    }
    emptied |= key.isList && key.accelerators.empty();
    out.command("gsettings set " + std::string(schema) + " " + key.name + " " + value);
  }
  // A running Metacity keeps the keys of a binding that is emptied until it starts again.
  if (emptied && !marco) {
    out.say("Then restart Metacity:");
    out.command("metacity --replace &");
  }
  return out;
}

struct ManagerAdvice {
  std::string_view nameContains;
  std::string_view shownName;
  AdviceText (*advice)(std::string_view shortcut, const ShortcutAdvice::Findings& found);
};

AdviceText sentence(const char* text) { return AdviceText(text); }

// Matched in order on the window manager's name as it announces itself (_NET_WM_NAME of the
// supporting window), lower-cased.
const ManagerAdvice kAdvice[] = {
    {"openbox", "Openbox", openboxAdvice},
    {"metacity", "Metacity", [](std::string_view, const ShortcutAdvice::Findings& f) { return gsettingsAdvice(kMetacitySchema, f); }},
    {"marco", "Marco", [](std::string_view, const ShortcutAdvice::Findings& f) { return gsettingsAdvice(kMarcoSchema, f); }},
    {"i3", "i3", i3Advice},
    {"xfwm", "Xfwm", [](std::string_view, const ShortcutAdvice::Findings&) {
       return sentence("In Xfce, clear it under Window Manager, Keyboard (\"Cycle windows\").");
     }},
    {"kwin", "KWin", [](std::string_view, const ShortcutAdvice::Findings&) {
       return sentence("In KDE Plasma, clear it under Shortcuts, KWin (\"Walk Through Windows\").");
     }},
    {"gnome", "GNOME Shell", [](std::string_view, const ShortcutAdvice::Findings&) {
       return sentence("In GNOME, clear it under Keyboard, Keyboard Shortcuts, Navigation (\"Switch windows\" and "
                       "\"Switch applications\").");
     }},
    {"mutter", "Mutter", [](std::string_view, const ShortcutAdvice::Findings&) {
       return sentence("In GNOME, clear it under Keyboard, Keyboard Shortcuts, Navigation (\"Switch windows\" and "
                       "\"Switch applications\").");
     }},
    {"icewm", "IceWM", icewmAdvice},
    {"fluxbox", "Fluxbox", [](std::string_view, const ShortcutAdvice::Findings&) {
       return sentence("In Fluxbox, remove its line from ~/.fluxbox/keys and reload the configuration.");
     }},
};

constexpr std::string_view kGeneralHint =
    "Free it in the window manager's keyboard settings (often called \"Cycle windows\" or \"Switch windows\").";

const ManagerAdvice* managerOf(std::string_view windowManagerName) {
  const std::string name = lower(windowManagerName);
  for (const auto& entry : kAdvice) {
    if (name.find(entry.nameContains) != std::string::npos) return &entry;
  }
  return nullptr;
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

// An Openbox key ("C-A-Left", "W-S-grave", "Mod1-Tab").
Parts openboxParts(std::string_view text) {
  Parts p;
  const std::vector<std::string_view> pieces = split(text, '-');
  for (size_t i = 0; i + 1 < pieces.size(); ++i) {
    const std::string_view m = pieces[i];
    if (m == "C" || m == "Control") p.ctrl = true;
    else if (m == "A" || m == "M" || m == "Mod1") p.alt = true;
    else if (m == "W" || m == "Mod4") p.super = true;
    else if (m == "S" || m == "Shift") p.shift = true;
    else p.other = true;
  }
  p.key = std::string(pieces.back());
  return p;
}

// An i3 key with its variables put in ("Mod1+Shift+Left").
Parts i3Parts(std::string_view text) {
  Parts p;
  const std::vector<std::string_view> pieces = split(text, '+');
  for (size_t i = 0; i + 1 < pieces.size(); ++i) {
    const std::string m = lower(pieces[i]);
    if (m == "control" || m == "ctrl") p.ctrl = true;
    else if (m == "mod1") p.alt = true;
    else if (m == "mod4") p.super = true;
    else if (m == "shift") p.shift = true;
    else p.other = true;
  }
  p.key = std::string(pieces.back());
  return p;
}

std::string stripComments(std::string_view xml) {
  std::string out;
  while (true) {
    const size_t open = xml.find("<!--");
    out += xml.substr(0, open);
    if (open == std::string_view::npos) return out;
    const size_t close = xml.find("-->", open + 4);
    if (close == std::string_view::npos) return out;
    xml.remove_prefix(close + 3);
  }
}

// "~/.config" for a path in the home folder.
std::string shown(const std::string& path, const std::string& home) {
  if (!home.empty() && path.size() > home.size() && path.compare(0, home.size(), home) == 0 && path[home.size()] == '/') {
    return "~" + path.substr(home.size());
  }
  return path;
}

}  // namespace

AdviceText ShortcutAdvice::advice(std::string_view windowManagerName, std::string_view shortcut,
                                  const Findings& found) {
  const ManagerAdvice* manager = managerOf(windowManagerName);
  const std::string keys(shortcut.empty() ? std::string_view("The shortcut") : shortcut);
  if (manager && found.managerHolds == false) {
    // Emptying the manager's binding would free nothing and lose the binding's other keys.
    AdviceText out(keys + " is held by another program, not by the window manager: " + std::string(manager->shownName) +
                   "'s own key bindings leave it free.");
    out.say("Quit that program, or free the key in its settings; key daemons such as xbindkeys or sxhkd, and other "
            "window switchers, hold keys like this.");
    out.holder = AdviceText::Holder::anotherProgram;
    return out;
  }
  const bool managerHolds = found.managerHolds && manager;
  AdviceText out(managerHolds ? keys + " is held by the window manager, " + std::string(manager->shownName) + "."
                              : keys + " is taken by another program, usually the window manager.");
  out.append(manager ? manager->advice(shortcut, found) : AdviceText(std::string(kGeneralHint)));
  if (managerHolds) {
    out.holder = AdviceText::Holder::windowManager;
    out.holderName = std::string(manager->shownName);
  }
  return out;
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
      if (const Parts p = accelerator(text); sameModifiers(p, ctrl, alt, super) && sameKey(p.key, keyName)) {
        holds = true;
      } else if (lower(text) != "disabled") {
        kept.accelerators.push_back(text);
      }
    }
    if (holds) out.push_back(std::move(kept));
  }
  return out;
}

std::vector<std::string> ShortcutAdvice::openboxHolding(std::string_view rcXml, uint64_t modifierFlags,
                                                        std::string_view keyName) {
  const std::string xml = stripComments(rcXml);
  std::vector<std::string> out;
  // Only the first key of a chain is held while no chain runs: keybinds inside another are not.
  int depth = 0;
  for (size_t at = 0; (at = xml.find('<', at)) != std::string::npos; ++at) {
    if (xml.compare(at, 10, "</keybind>") == 0) {
      depth = std::max(0, depth - 1);
      continue;
    }
    if (xml.compare(at, 8, "<keybind") != 0 || (at + 8 < xml.size() && std::isalnum(static_cast<unsigned char>(xml[at + 8])))) continue;
    const size_t end = xml.find('>', at);
    if (end == std::string::npos) break;
    const std::string_view tag = std::string_view(xml).substr(at, end - at);
    const bool selfClosing = tag.ends_with("/");
    if (depth == 0) {
      const size_t key = tag.find("key=");
      if (key != std::string_view::npos && key + 5 < tag.size()) {
        const char quote = tag[key + 4];
        const size_t close = tag.find(quote, key + 5);
        const std::string_view value = tag.substr(key + 5, close - (key + 5));
        const std::string_view first = trimmed(value).substr(0, trimmed(value).find(' '));
        const Parts p = openboxParts(first);
        const bool ctrl = modifierFlags & KeyFlags::control;
        if (sameModifiers(p, ctrl, modifierFlags & KeyFlags::option, modifierFlags & KeyFlags::command) &&
            sameKey(p.key, keyName) && std::find(out.begin(), out.end(), first) == out.end()) {
          out.emplace_back(first);
        }
      }
    }
    if (!selfClosing) ++depth;
  }
  return out;
}

std::vector<std::string> ShortcutAdvice::i3Holding(std::string_view config, uint64_t modifierFlags,
                                                   std::string_view keyName) {
  std::vector<std::pair<std::string, std::string>> variables;
  std::vector<std::string> out;
  int depth = 0;  // inside a mode or bar block, whose bindings are not held until it is entered
  for (std::string_view line : split(config, '\n')) {
    line = trimmed(line);
    if (line.empty() || line.front() == '#') continue;
    if (line.front() == '}') {
      depth = std::max(0, depth - 1);
      continue;
    }
    if (line.back() == '{') {
      ++depth;
      continue;
    }
    std::vector<std::string_view> words;
    for (std::string_view word : split(line, ' ')) {
      if (!trimmed(word).empty()) words.push_back(trimmed(word));
    }
    if (words.size() >= 3 && words[0] == "set" && words[1].starts_with("$")) {
      const size_t value = line.find(words[2], line.find(words[1]) + words[1].size());
      variables.emplace_back(std::string(words[1]), std::string(line.substr(value)));
      // The longest name first, so that $mod never eats the start of $modifier.
      std::sort(variables.begin(), variables.end(),
                [](const auto& a, const auto& b) { return a.first.size() > b.first.size(); });
      continue;
    }
    if (depth > 0 || words.size() < 2 || words[0] != "bindsym") continue;
    size_t k = 1;
    while (k < words.size() && words[k].starts_with("--")) ++k;
    if (k >= words.size()) continue;
    std::string key(words[k]);
    for (const auto& [name, value] : variables) {
      for (size_t at = 0; (at = key.find(name, at)) != std::string::npos; at += value.size()) key.replace(at, name.size(), value);
    }
    const Parts p = i3Parts(key);
    if (sameModifiers(p, modifierFlags & KeyFlags::control, modifierFlags & KeyFlags::option,
                      modifierFlags & KeyFlags::command) &&
        sameKey(p.key, keyName)) {
      out.emplace_back(line);
    }
  }
  return out;
}

namespace {

// An IceWM key ("Alt+Shift+Tab", "Ctrl+Alt+Del", "Win+Tab") as a shortcut's parts.
Parts icewmParts(std::string_view value) {
  Parts p;
  const std::vector<std::string_view> pieces = split(value, '+');
  for (size_t i = 0; i + 1 < pieces.size(); ++i) {
    const std::string m = lower(trimmed(pieces[i]));
    if (m == "ctrl" || m == "control") p.ctrl = true;
    else if (m == "alt") p.alt = true;
    else if (m == "super" || m == "win") p.super = true;
    else if (m == "shift") p.shift = true;
    else p.other = true;
  }
  p.key = std::string(trimmed(pieces.back()));
  return p;
}

bool icewmHolds(std::string_view value, uint64_t modifierFlags, std::string_view keyName) {
  const Parts p = icewmParts(value);
  return !p.key.empty() &&
         sameModifiers(p, modifierFlags & KeyFlags::control, modifierFlags & KeyFlags::option,
                       modifierFlags & KeyFlags::command) &&
         sameKey(p.key, keyName);
}

// A preferences line taken apart: its name and its value without quotes; none for a comment or
// another line. `commented`: a "# Name=value" line, as IceWM's own preferences file lists its
// defaults.
std::optional<std::pair<std::string, std::string>> icewmSetting(std::string_view line, bool commented) {
  line = trimmed(line);
  if (commented) {
    if (line.empty() || line.front() != '#') return std::nullopt;
    line = trimmed(line.substr(1));
  }
  const size_t equals = line.find('=');
  if (line.empty() || line.front() == '#' || equals == std::string_view::npos) return std::nullopt;
  const std::string_view name = trimmed(line.substr(0, equals));
  if (name.empty() || name.find(' ') != std::string_view::npos) return std::nullopt;
  std::string_view value = trimmed(line.substr(equals + 1));
  if (!value.empty() && value.front() == '"') {
    value.remove_prefix(1);
    value = value.substr(0, value.find('"'));
  } else {
    value = trimmed(value.substr(0, value.find('#')));
  }
  return std::pair{std::string(name), std::string(value)};
}

}  // namespace

std::vector<std::string> ShortcutAdvice::icewmHolding(std::string_view defaults, const std::vector<std::string>& preferences,
                                                      uint64_t modifierFlags, std::string_view keyName) {
  // The keys IceWM takes on the root window (KeySys...), with its own values, which its installed
  // preferences list commented out, and which its preferences change.
  std::vector<std::pair<std::string, std::string>> keys = {
      {"KeySysSwitchNext", "Alt+Tab"}, {"KeySysSwitchLast", "Alt+Shift+Tab"}, {"KeySysSwitchClass", "Alt+grave"}};
  auto set = [&keys](const std::string& name, const std::string& value) {
    if (!name.starts_with("KeySys")) return;
    for (auto& [key, keyValue] : keys) {
      if (key == name) {
        keyValue = value;
        return;
      }
    }
    keys.emplace_back(name, value);
  };
  for (std::string_view line : split(defaults, '\n')) {
    if (const auto setting = icewmSetting(line, true)) set(setting->first, setting->second);
  }
  bool switching = true;
  for (const std::string& text : preferences) {
    for (std::string_view line : split(text, '\n')) {
      const auto setting = icewmSetting(line, false);
      if (!setting) continue;
      if (setting->first == "QuickSwitch") switching = setting->second != "0";
      set(setting->first, setting->second);
    }
  }
  std::vector<std::string> out;
  for (const auto& [key, value] : keys) {
    // Its window switching's keys are taken only while it switches windows.
    if (!switching && key.starts_with("KeySysSwitch")) continue;
    if (icewmHolds(value, modifierFlags, keyName)) out.push_back(key + "=" + quoted(value));
  }
  return out;
}

std::vector<std::string> ShortcutAdvice::icewmKeysHolding(std::string_view keys, uint64_t modifierFlags,
                                                          std::string_view keyName) {
  std::vector<std::string> out;
  for (std::string_view line : split(keys, '\n')) {
    line = trimmed(line);
    if (!line.starts_with("key") && !line.starts_with("switchkey")) continue;
    const size_t open = line.find('"');
    const size_t close = open == std::string_view::npos ? open : line.find('"', open + 1);
    if (close == std::string_view::npos) continue;
    const std::string_view word = trimmed(line.substr(0, open));
    if (word != "key" && word != "switchkey") continue;
    if (icewmHolds(line.substr(open + 1, close - open - 1), modifierFlags, keyName)) out.emplace_back(line);
  }
  return out;
}

std::string ShortcutAdvice::processName(std::string_view windowManagerName) {
  const ManagerAdvice* manager = managerOf(windowManagerName);
  if (!manager) return {};
  for (std::string_view name : {"openbox", "i3", "icewm"}) {
    if (manager->nameContains == name) return std::string(name);
  }
  return {};
}

std::string ShortcutAdvice::configFileArgument(std::string_view windowManagerName,
                                               const std::vector<std::string>& commandLine) {
  const ManagerAdvice* manager = managerOf(windowManagerName);
  if (!manager) return {};
  // The options each manager takes for a file of its own, long and short.
  std::string_view longOption;
  std::string_view shortOption;
  if (manager->nameContains == "openbox") longOption = "--config-file";
  else if (manager->nameContains == "i3") longOption = "--config", shortOption = "-c";
  else if (manager->nameContains == "icewm") longOption = "--config", shortOption = "-c";
  else return {};
  std::string file;
  for (size_t i = 1; i < commandLine.size(); ++i) {
    const std::string& word = commandLine[i];
    if (word == "--") break;
    if (word == longOption || (!shortOption.empty() && word == shortOption)) {
      if (i + 1 < commandLine.size()) file = commandLine[++i];
    } else if (word.size() > longOption.size() && word.compare(0, longOption.size(), longOption) == 0 &&
               word[longOption.size()] == '=') {
      file = word.substr(longOption.size() + 1);
    } else if (!shortOption.empty() && word.size() > 2 && word.compare(0, 2, shortOption) == 0) {
      file = word.substr(2);
    }
  }
  return file;
}

ShortcutAdvice::Findings ShortcutAdvice::find(
    std::string_view windowManagerName, uint64_t modifierFlags, std::string_view keyName, const Environment& environment,
    const std::function<std::optional<std::string>(const std::string& path)>& readFile,
    const std::function<std::vector<GsettingsKey>(std::string_view schema)>& gsettings,
    const std::function<bool(const std::string& path)>& isDirectory) {
  Findings found;
  if (const std::string_view schema = gsettingsSchema(windowManagerName); !schema.empty()) {
    const std::vector<GsettingsKey> keys = gsettings ? gsettings(schema) : std::vector<GsettingsKey>{};
    if (keys.empty()) return found;  // not installed or not readable: not known
    found.gsettingsHolders = holding(keys, modifierFlags, keyName);
    found.managerHolds = !found.gsettingsHolders.empty();
    return found;
  }
  const ManagerAdvice* manager = managerOf(windowManagerName);
  const bool openbox = manager && manager->nameContains == "openbox";
  const bool i3 = manager && manager->nameContains == "i3";
  const bool icewm = manager && manager->nameContains == "icewm";
  if ((!openbox && !i3 && !icewm) || !readFile) return found;
  const std::string& home = environment.home;
  // Where the XDG base directories put the user's and the system's configuration.
  const std::string configHome = !environment.configHome.empty() ? environment.configHome
                                 : !home.empty()                 ? home + "/.config"
                                                                 : std::string();
  std::vector<std::string> systemDirs;
  for (std::string_view dir : split(environment.configDirs, ':')) {
    if (!dir.empty()) systemDirs.emplace_back(dir);
  }
  if (systemDirs.empty()) systemDirs.emplace_back("/etc/xdg");
  // The first of the files the manager looks for, in its order: the user's (the first is where a
  // new one goes), then the system's. Sets where the user's goes and, when the manager reads the
  // system's, which that is.
  auto readFirst = [&](const std::vector<std::string>& users, const std::vector<std::string>& systems,
                       std::string& userFile, std::string& systemFile) -> std::optional<std::string> {
    for (const std::string& path : users) {
      if (std::optional<std::string> text = readFile(path)) {
        userFile = shown(path, home);
        return text;
      }
    }
    userFile = users.empty() ? std::string() : shown(users.front(), home);
    for (const std::string& path : systems) {
      if (std::optional<std::string> text = readFile(path)) {
        systemFile = path;
        return text;
      }
    }
    return std::nullopt;
  };
  // A file of its own on the manager's command line is the only one it reads.
  std::string given = configFileArgument(windowManagerName, environment.commandLine);
  auto givenPath = [&] {
    if (given.front() != '/' && !environment.workingDirectory.empty()) return environment.workingDirectory + "/" + given;
    return given;
  };
  if (openbox || i3) {
    auto holdingIn = [&](const std::string& text) {
      return openbox ? openboxHolding(text, modifierFlags, keyName) : i3Holding(text, modifierFlags, keyName);
    };
    std::optional<std::string> text;
    if (!given.empty()) {
      found.userFile = shown(givenPath(), home);
      text = readFile(givenPath());
    } else if (openbox) {
      std::vector<std::string> systems;
      for (const auto& dir : systemDirs) systems.push_back(dir + "/openbox/rc.xml");
      text = readFirst({configHome.empty() ? std::string() : configHome + "/openbox/rc.xml"}, systems, found.userFile,
                       found.systemFile);
    } else {
      std::vector<std::string> users;
      if (!configHome.empty()) users.push_back(configHome + "/i3/config");
      if (!home.empty()) users.push_back(home + "/.i3/config");
      std::vector<std::string> systems;
      for (const auto& dir : systemDirs) systems.push_back(dir + "/i3/config");
      systems.emplace_back("/etc/i3/config");
      text = readFirst(users, systems, found.userFile, found.systemFile);
    }
    if (text) {
      found.bindings = holdingIn(*text);
      found.managerHolds = !found.bindings.empty();
    }
    return found;
  }
  // IceWM keeps one private folder: $ICEWM_PRIVCFG, else $XDG_CONFIG_HOME/icewm when it exists,
  // else ~/.icewm; each of its files is the first found there or in the system's folders. A file
  // name given with -c is looked for in place of preferences; a path is read as it stands.
  std::string privateDir = environment.icewmPrivateConfig;
  if (privateDir.empty() && !configHome.empty() && isDirectory && isDirectory(configHome + "/icewm")) {
    privateDir = configHome + "/icewm";
  }
  if (privateDir.empty() && !home.empty()) privateDir = home + "/.icewm";
  auto places = [&privateDir](const std::string& name) {
    std::vector<std::string> users;
    if (!privateDir.empty()) users.push_back(privateDir + "/" + name);
    return std::pair{users, std::vector<std::string>{"/etc/X11/icewm/" + name, "/etc/icewm/" + name,
                                                     "/usr/share/icewm/" + name}};
  };
  std::optional<std::string> preferences;
  if (!given.empty() && given.find('/') != std::string::npos) {
    found.userFile = shown(givenPath(), home);
    preferences = readFile(givenPath());
  } else {
    const auto [users, systems] = places(given.empty() ? "preferences" : given);
    preferences = readFirst(users, systems, found.userFile, found.systemFile);
  }
  // IceWM's installed preferences list its own values, commented out.
  const std::string defaults = readFile("/usr/share/icewm/preferences").value_or(std::string());
  found.bindings = icewmHolding(defaults, preferences ? std::vector<std::string>{*preferences} : std::vector<std::string>{},
                                modifierFlags, keyName);
  const auto [keyUsers, keySystems] = places("keys");
  if (std::optional<std::string> keys = readFirst(keyUsers, keySystems, found.keysFile, found.keysSystemFile)) {
    found.keysLines = icewmKeysHolding(*keys, modifierFlags, keyName);
  }
  found.managerHolds = !found.bindings.empty() || !found.keysLines.empty();
  return found;
}

}  // namespace quorvel
