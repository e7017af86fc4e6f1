#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

// What to tell the user when another program (almost always the window manager) holds the keys of
// the shortcut they chose: whose they are, and how to free them under the window manager that runs
// here, in that manager's own terms. The same sentences stand in the tour, the "Shortcut needed"
// window, the settings window's shortcut row, the log and the tray's message. The caller adds what
// the user can do in its own place ("Or choose another shortcut here.").
struct ShortcutAdvice {
  // One key of a window manager's GSettings schema that holds key bindings, with its accelerators
  // as GSettings stores them ("<Alt>Tab", "<Shift><Super>Tab"). `isList` for a key of string lists
  // (Metacity's), false for a key of one string (Marco's, where "disabled" frees it).
  struct GsettingsKey {
    std::string name;
    std::vector<std::string> accelerators;
    bool isList = true;
    bool operator==(const GsettingsKey&) const = default;
  };

  // "Alt+Tab is taken by another program, usually the window manager. " followed by how to free it.
  static std::string text(std::string_view windowManagerName, std::string_view shortcut);
  // The same, naming the GSettings keys that hold the shortcut (as `holding` answers them) and giving
  // the commands that take the shortcut out of each and keep the rest; without any, as above.
  static std::string text(std::string_view windowManagerName, std::string_view shortcut,
                          const std::vector<GsettingsKey>& holders);

  // Only how to free it under this manager, or the general hint when the manager is not recognised.
  static std::string howToFree(std::string_view windowManagerName);

  // The GSettings schema where this manager keeps its key bindings ("org.gnome.desktop.wm.keybindings"
  // for Metacity, "org.mate.Marco.global-keybindings" for Marco); empty for a manager that keeps them
  // elsewhere.
  static std::string_view gsettingsSchema(std::string_view windowManagerName);

  // The keys of `schemaKeys` with an accelerator that holds the shortcut: exactly its modifiers
  // (Shift aside: the switcher takes the shortcut with Shift too, to step backward) and its key.
  // `modifierFlags` are the shortcut's KeyFlags (control, option, command); `keyName` is the key's
  // name as shown ("Tab", "`", "F5", "K"). Each key comes back with the accelerators it keeps once
  // those that hold the shortcut are taken out: the value that frees the shortcut.
  static std::vector<GsettingsKey> holding(const std::vector<GsettingsKey>& schemaKeys, uint64_t modifierFlags,
                                           std::string_view keyName);
};

}  // namespace quorvel
