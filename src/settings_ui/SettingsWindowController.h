#pragma once

#include <QMainWindow>
#include <QMargins>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "app/AppShell.h"
#include "base/Executor.h"
#include "base/Geometry.h"
#include "base/Subscription.h"
#include "settings_ui/SettingsWindowServices.h"
#include "windows/ChromeWindowCensus.h"

class QLabel;
class QListWidget;
class QMainWindow;
class QWidget;

namespace quorvel {

class SettingsBindings;
class SettingsNavigator;

// The settings window: a sidebar of panes on the left and the chosen pane on the right. One window
// for the life of the program, made on first show and kept when closed. The pane chosen last is
// stored ("settingsTab") and comes back at the next start; every show fits the window again (779
// pixels of content wide, at least 460 high, with the window manager's frame inside the screen's
// free area), counts it among the program's own windows and brings it forward. Its frame is stored
// as it changes and comes back at the next start. Escape closes it like its close button. A pane is
// built afresh each time it is chosen. When the settings file could not be read or written, a line
// over the pane says so.
//
// Threads: main thread only.
class SettingsWindowController {
 public:
  static constexpr int kContentWidth = 779;
  static constexpr int kMinimumHeight = 460;
  static constexpr int kInitialHeight = 560;
  static constexpr int kSidebarWidth = 215;
  // Where the window's frame is kept between runs: [x, y, width, height] of its content.
  static constexpr const char* frameKey = "settingsWindowFrame";

  explicit SettingsWindowController(SettingsWindowServices services);
  ~SettingsWindowController();
  SettingsWindowController(const SettingsWindowController&) = delete;
  SettingsWindowController& operator=(const SettingsWindowController&) = delete;

  // Makes the window on first use, fits it, counts it, brings it to the front and applies the
  // selected pane.
  void show();
  // Selects a pane without applying it; the next show() applies it.
  void select(SettingsPane pane);
  SettingsPane selectedPane() const { return pane_; }
  // The sidebar's choice (a user's click): applies the pane at once; the pane shown already is left alone.
  void choose(SettingsPane pane);
  // Installs the program's main menu in the window, now and whenever it is made.
  void setMenuInstaller(std::function<void(QMainWindow&)> installer);

  QMainWindow* window() const { return window_; }
  QWidget* currentPane() const;
  SettingsNavigator* navigator() const { return navigator_; }
  SettingsBindings& bindings() const { return *bindings_; }
  // The line about the settings file (hidden while all is well).
  QLabel* fileProblemLabel() const { return problem_; }

  // "<pane> — Quorvel Settings".
  static QString windowTitle(SettingsPane pane);

  // The content rectangle a show gives the window: the width made 779, the height at least 460 with
  // the top edge kept, then moved inside `visible` (the screen's free area; a window taller than it
  // is cut to its height, one wider is put at its left edge).
  static Rect fitFrame(Rect content, std::optional<Rect> visible);

 private:
  void build();
  void fit();
  void paneDidChange();
  void showPane();
  void refreshProblem();
  void saveFrame();
  void closed();
  void frameChanged();
  void watchDecorations(int looksLeft);

  SettingsWindowServices services_;
  std::unique_ptr<SettingsBindings> bindings_;
  SettingsPane pane_;
  QPointer<QMainWindow> window_;
  QListWidget* sidebar_ = nullptr;
  SettingsNavigator* navigator_ = nullptr;
  QLabel* problem_ = nullptr;
  std::function<void(QMainWindow&)> menuInstaller_;
  CountedWindow countedWindow_{services_.census};
  Subscription storeSubscription_;
  // The window manager's frame around the window, as last seen (none before it was framed).
  QMargins decorations_;
  std::optional<TimerId> decorationTimer_;
};

}  // namespace quorvel
