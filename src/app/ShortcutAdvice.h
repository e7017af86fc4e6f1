#pragma once

#include <string>
#include <string_view>

namespace quorvel {

// What to tell the user when another program (almost always the window manager) holds the keys of
// the shortcut they chose: whose they are, and how to free them under the window manager that runs
// here, in that manager's own terms. The same sentences stand in the tour, the "Shortcut needed"
// window, the settings window's shortcut row, the log and the tray's message. The caller adds what
// the user can do in its own place ("Or choose another shortcut here.").
struct ShortcutAdvice {
  // "Alt+Tab is taken by another program, usually the window manager. " followed by how to free it.
  static std::string text(std::string_view windowManagerName, std::string_view shortcut);

  // Only how to free it under this manager, or the general hint when the manager is not recognised.
  static std::string howToFree(std::string_view windowManagerName);
};

}  // namespace quorvel
