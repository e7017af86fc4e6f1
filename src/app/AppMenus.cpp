#include "app/AppMenus.h"

namespace quorvel {

namespace {

MenuItem item(const char* title, MenuAction action, const char* key = "", uint64_t modifiers = 0) {
  return MenuItem{title, action, key, modifiers, true, false};
}

}  // namespace

std::vector<Menu> AppMenus::mainMenu(bool offersFeedback) {
  constexpr uint64_t cmd = MenuModifiers::command;
  Menu app{"Quorvel",
           {item("About Quorvel", MenuAction::openAbout, "", cmd), MenuItem::separator(),
            item("Settings…", MenuAction::openSettings, ",", cmd), MenuItem::separator()}};
  if (offersFeedback) {
    app.items.push_back(item("Send Feedback…", MenuAction::openFeedback, "", cmd));
    app.items.push_back(MenuItem::separator());
  }
  app.items.push_back(item("Quit Quorvel", MenuAction::quit, "q", cmd));
  Menu edit{"Edit",
            {item("Undo", MenuAction::undo, "z", cmd), item("Redo", MenuAction::redo, "Z", MenuModifiers::commandShift),
             MenuItem::separator(), item("Cut", MenuAction::cut, "x", cmd), item("Copy", MenuAction::copy, "c", cmd),
             item("Paste", MenuAction::paste, "v", cmd), item("Delete", MenuAction::deleteSelection, "", cmd),
             item("Select All", MenuAction::selectAll, "a", cmd)}};
  Menu window{"Window",
              {item("Close", MenuAction::performClose, "w", cmd),
               item("Minimize", MenuAction::performMiniaturize, "m", cmd)}};
  return {app, edit, window};
}

Menu AppMenus::statusMenu(bool hasUpdater, bool offersFeedback) {
  Menu menu{"Quorvel", {}};
  MenuItem header = item("Quorvel", MenuAction::none);
  header.enabled = false;
  menu.items.push_back(header);
  menu.items.push_back(MenuItem::separator());
  menu.items.push_back(item("Show Switcher", MenuAction::showSwitcher));
  menu.items.push_back(MenuItem::separator());
  menu.items.push_back(item("Settings…", MenuAction::openSettings, ",", MenuModifiers::command));
  menu.items.push_back(item("About Quorvel", MenuAction::openAbout));
  if (offersFeedback) menu.items.push_back(item("Send Feedback…", MenuAction::openFeedback));
  if (hasUpdater) menu.items.push_back(item("Check for Updates…", MenuAction::checkForUpdates));
  menu.items.push_back(MenuItem::separator());
  menu.items.push_back(item("Quit Quorvel", MenuAction::quit, "q", MenuModifiers::command));
  return menu;
}

}  // namespace quorvel
