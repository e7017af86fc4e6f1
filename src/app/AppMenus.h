#pragma once

#include <vector>

#include "app/MenuModel.h"

namespace quorvel {

// The program's two menus as models: the main menu (application, Edit and Window menus), shown
// with the program's own windows, and the menu of the tray item, the everyday entry point.
class AppMenus {
 public:
  // The application menu "Quorvel", then "Edit", then "Window". Never offers an update check;
  // "Send Feedback…" only when the build can send it.
  static std::vector<Menu> mainMenu(bool offersFeedback);
  // The tray item's menu; "Check for Updates…" only when this build has an updater, "Send
  // Feedback…" only when it can send feedback.
  static Menu statusMenu(bool hasUpdater, bool offersFeedback);
};

}  // namespace quorvel
