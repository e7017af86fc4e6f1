#pragma once

#include <functional>
#include <memory>
#include <string>

#include "app/AppShell.h"
#include "app/MenuModel.h"
#include "base/Logger.h"

class QMenu;
class QSystemTrayIcon;

namespace quorvel {

// The tray item: an icon in the desktop's system tray (the status-notifier service or the X11
// system-tray protocol, whichever the desktop offers) with the program's status menu. A desktop
// without a tray keeps the item hidden: the program runs on, and starting it again opens its
// settings window. Made and destroyed on the main thread.
class QtStatusItem {
 public:
  // `willOpen` runs each time the menu is about to open.
  QtStatusItem(const Menu& menu, const AppShell::MenuHandler& handler, std::function<void()> willOpen);
  ~QtStatusItem();
  QtStatusItem(const QtStatusItem&) = delete;
  QtStatusItem& operator=(const QtStatusItem&) = delete;

  // Whether the desktop shows the icon (false without a tray).
  bool isShown() const;
  // A message balloon beside the icon (the desktop's notification where it shows them instead).
  void showMessage(const std::string& title, const std::string& text);
  // Closes the balloon if it still shows (it goes by itself after a while, but not while the
  // pointer rests on it). A desktop notification keeps its own time.
  void withdrawMessage();

  QMenu& menu() { return *menu_; }
  QSystemTrayIcon& icon() { return *icon_; }

 private:
  // The tray's report of a click on the icon: a left click opens the menu too, as the context
  // menu's right click does.
  void iconActivated(int reason);

  std::unique_ptr<QMenu> menu_;
  std::unique_ptr<QSystemTrayIcon> icon_;
  const Logger logger_{"AppDelegate"};
};

}  // namespace quorvel
