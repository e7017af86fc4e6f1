#pragma once

#include <QWidget>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/Subscription.h"
#include "settings_ui/AppLists.h"
#include "settings_ui/SettingsWindowServices.h"
#include "settings_ui/TitleWordsEditor.h"

class QLineEdit;

namespace quorvel {

class SettingsBindings;
class SettingsForm;

// The applications whose windows the switcher leaves out ("hiddenBundleIDs"), each with a box of
// words: empty hides every window of the application, words hide only the windows whose title
// holds one of them ("hiddenTitlePatterns"). Every edit is stored at once. The rows are built again
// only when the list of applications changes, so a box keeps its cursor while its words are stored.
class HiddenAppsScreen final : public QWidget {
 public:
  HiddenAppsScreen(SettingsBindings& bindings, const SettingsWindowServices& services, QWidget* parent = nullptr);
  ~HiddenAppsScreen() override;

  const std::vector<std::string>& apps() const { return editor_->apps(); }
  void addApps();
  void removeApp(const std::string& identifier);
  // The box of an application (none when it is not listed).
  QLineEdit* wordsField(const std::string& identifier) const;
  // The chooser (tests replace it): the identifiers picked.
  std::function<std::vector<std::string>()> chooser;

 private:
  void rebuild();
  void reload();

  SettingsBindings& bindings_;
  const SettingsWindowServices& services_;
  std::unique_ptr<AppListEditor> editor_;
  TitleWordsEditor words_;
  std::map<std::string, QLineEdit*> fields_;
  SettingsForm* form_ = nullptr;
  Subscription subscription_;
};

}  // namespace quorvel
