#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/MenuModel.h"

namespace quorvel {

// The settings window's panes; About is the one a menu opens directly.
enum class SettingsPane { general, shortcuts, windows, appearance, backdrop, pointer, about };

// The desktop around the program, as the application delegate uses it: the permission questions,
// the menus and the tray item, the program's own windows (settings, tour), the permission watcher
// and the end of the process. The desktop's toolkit implements it; tests record it.
//
// Threads: main queue only.
class AppShell {
 public:
  using MenuHandler = std::function<void(MenuAction)>;

  virtual ~AppShell() = default;

  // ---- Permissions ----
  // Whether pictures of other windows may be taken now (asks nobody).
  virtual bool screenCaptureGranted() = 0;
  // Asks the user for the Accessibility permission when the desktop has one.
  virtual void promptForAccessibility() = 0;
  // Asks the user for the screen-recording permission when the desktop has one.
  virtual void requestScreenCapture() = 0;

  // ---- Menus and the tray item ----
  // Installs the main menu; its items call `handler`.
  virtual void installMainMenu(const std::vector<Menu>& menus, MenuHandler handler) = 0;
  // Shows a new tray item with `menu`, whose items call `handler`; `willOpen` runs each time the
  // menu is about to open.
  virtual void showStatusItem(const Menu& menu, MenuHandler handler, std::function<void()> willOpen) = 0;
  // Removes the tray item (nothing when there is none).
  virtual void removeStatusItem() = 0;

  // ---- The program's own windows and services ----
  // Opens (or brings forward) the settings window, on `pane` when one is given.
  virtual void showSettings(std::optional<SettingsPane> pane) = 0;
  // Whether this build can send feedback (it was given a feedback host): without, no menu offers it.
  virtual bool offersFeedback() const = 0;
  // Opens the feedback form, or brings forward the one that is open (with what it holds).
  virtual void showFeedback() = 0;
  // Shows the first-run tour when it has not been completed.
  virtual void showTourIfNeeded() = 0;
  // Starts watching for permissions taken back.
  virtual void startPermissionWatcher() = 0;
  // Sends the program's own focused window the action of an Edit or Window menu item.
  virtual void sendToFocusedWindow(MenuAction action) = 0;
  // Ends the event loop (the program then exits).
  virtual void quit() = 0;
};

}  // namespace quorvel
