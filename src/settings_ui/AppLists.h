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

// The names people know applications by, looked up once per identifier for the life of the program;
// an identifier no application answers to is its own name.
class AppDisplayNames {
 public:
  static std::string name(const std::string& identifier,
                          const std::function<std::vector<AppChoice>()>& applications);
  // Forgets what was looked up (tests).
  static void clearForTesting();
};

// The chooser: a dialog listing `choices` (names and icons), several can be picked. The identifiers
// picked, in list order; empty when cancelled.
std::vector<std::string> chooseApps(QWidget* parent, const QString& message, const QString& prompt,
                                    const std::vector<AppChoice>& choices);

}  // namespace quorvel
