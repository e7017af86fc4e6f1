#pragma once

#include <QWidget>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/Subscription.h"
#include "settings_ui/AppLists.h"
#include "settings_ui/SettingsWindowServices.h"

namespace quorvel {

class SettingsBindings;
class SettingsForm;

// The applications that keep the summon shortcut for themselves ("passThroughBundleIDs"): one row
// per entry with a remove button, and "Add app…" opening the chooser.
class PassThroughAppsScreen final : public QWidget {
 public:
  PassThroughAppsScreen(SettingsBindings& bindings, const SettingsWindowServices& services, QWidget* parent = nullptr);
  ~PassThroughAppsScreen() override;

  const std::vector<std::string>& apps() const { return editor_->apps(); }
  void addApps();
  void removeApp(const std::string& identifier);
  // The chooser (tests replace it): the identifiers picked.
  std::function<std::vector<std::string>()> chooser;

 private:
  void rebuild();

  SettingsBindings& bindings_;
  const SettingsWindowServices& services_;
  std::unique_ptr<AppListEditor> editor_;
  SettingsForm* form_ = nullptr;
  Subscription subscription_;
};

}  // namespace quorvel
