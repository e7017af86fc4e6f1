#pragma once

#include <QString>

#include <functional>
#include <string>
#include <vector>

#include "settings_ui/SettingsWindowServices.h"

class QWidget;

namespace quorvel {

// A stored list of applications as a screen edits it: a copy in the stored order, written through
// the settings model's writer (which trims, drops repeats and sorts) and read back after each change;
// a change of the store made elsewhere replaces the copy when it differs.
class AppListEditor {
 public:
  using Reader = std::function<std::vector<std::string>()>;
  using Writer = std::function<void(const std::vector<std::string>&)>;

  AppListEditor(Reader read, Writer write) : read_(std::move(read)), write_(std::move(write)), apps_(read_()) {}

  const std::vector<std::string>& apps() const { return apps_; }
  // Adds the chosen identifiers (nothing when there are none).
  void add(const std::vector<std::string>& chosen);
  void remove(const std::string& identifier);
  // True when the stored list differed from the copy (which now holds it).
  bool reload();

 private:
  Reader read_;
  Writer write_;
  std::vector<std::string> apps_;
};

// The names and icons people know applications by, from their desktop entries (the list of
// applications is read once for the life of the program). An entry ending in "." stands for every
// window class that begins with it, and takes the name of the first application whose identifier
// does. The applications that keep the shortcut by default have their names here even when they
// are not installed; any other identifier no application answers to is named by its window class.
class AppDisplayNames {
 public:
  static AppChoice find(const std::string& identifier, const std::function<std::vector<AppChoice>()>& applications);
  static std::string name(const std::string& identifier, const std::function<std::vector<AppChoice>()>& applications) {
    return find(identifier, applications).name;
  }
  // The window class an identifier stands for, as the user may find it (xprop's WM_CLASS):
  // "x11.org.remmina." reads "org.remmina.*".
  static std::string windowClass(const std::string& identifier);
  // Forgets what was looked up (tests).
  static void clearForTesting();
};

// One application of a list: its icon, its name and, under the name where they differ, its window
// class; then `trailing` (a remove button, say), when given.
QWidget* appListRow(const AppChoice& app, QWidget* trailing);

// The chooser: a dialog titled "Choose an app" with `message` above a list of `choices` (names and
// icons), several can be picked. The identifiers
// picked, in list order; empty when cancelled.
std::vector<std::string> chooseApps(QWidget* parent, const QString& message, const QString& prompt,
                                    const std::vector<AppChoice>& choices);

}  // namespace quorvel
