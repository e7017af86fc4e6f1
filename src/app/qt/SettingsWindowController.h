#pragma once

#include <QMainWindow>
#include <QPointer>

#include <filesystem>
#include <optional>
#include <vector>

#include "app/AppShell.h"
#include "app/MenuModel.h"



namespace quorvel {

class ChromeWindowCensus;

// The settings window: for now a plain window that says which settings file the program uses and
// which build this is, with the program's main menu. One window for the process, made on first
// use; showing it brings it forward and counts it among the program's own windows until it closes.
//
// Threads: main thread only.
class SettingsWindowController {
 public:
  SettingsWindowController(ChromeWindowCensus& census, std::filesystem::path settingsFile);
  ~SettingsWindowController();
  SettingsWindowController(const SettingsWindowController&) = delete;
  SettingsWindowController& operator=(const SettingsWindowController&) = delete;

  // Makes the window on first use, brings it to the front and gives it the keyboard.
  void show();
  // The pane the window opens on next (and now, when open).
  void select(SettingsPane pane) { pane_ = pane; }
  SettingsPane selectedPane() const { return pane_; }
  // The main menu the window shows; `handler` answers its items.
  void setMainMenu(std::vector<Menu> menus, AppShell::MenuHandler handler);

  QMainWindow* window() const { return window_; }
  // The text the window shows.
  static std::string bodyText(const std::filesystem::path& settingsFile);

 private:
  void build();
  void installMenu();

  ChromeWindowCensus& census_;
  const std::filesystem::path settingsFile_;
  SettingsPane pane_ = SettingsPane::general;
  std::vector<Menu> menus_;
  AppShell::MenuHandler handler_;
  QPointer<QMainWindow> window_;
  std::optional<uint32_t> countedWindow_;
};

}  // namespace quorvel
