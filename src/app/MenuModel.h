#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quorvel {

// The actions the program's menus name. The delegate's actions answer the first group; the Edit
// and Window menus go to the program's own focused window.
enum class MenuAction {
  none,
  showSwitcher,
  openSettings,
  openAbout,
  openFeedback,
  checkForUpdates,
  quit,
  undo,
  redo,
  cut,
  copy,
  paste,
  deleteSelection,
  selectAll,
  performClose,
  performMiniaturize,
};

// The modifier masks of a menu item's key equivalent (device-independent flag bits).
struct MenuModifiers {
  static constexpr uint64_t command = 0x100000;
  static constexpr uint64_t commandShift = 0x120000;
};

// One item of a menu, as the desktop's menu classes will show it.
struct MenuItem {
  std::string title;  // empty for a separator
  MenuAction action = MenuAction::none;
  std::string key;    // the key equivalent; empty for none
  uint64_t modifiers = 0;
  bool enabled = true;
  bool isSeparator = false;
  bool operator==(const MenuItem&) const = default;

  static MenuItem separator() { return MenuItem{{}, MenuAction::none, {}, 0, false, true}; }
};

// A titled menu.
struct Menu {
  std::string title;
  std::vector<MenuItem> items;
  bool operator==(const Menu&) const = default;
};

}  // namespace quorvel
