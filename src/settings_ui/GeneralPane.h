#pragma once

#include <QWidget>

#include <memory>
#include <optional>

#include "base/Subscription.h"
#include "settings_ui/LoginSwitch.h"
#include "settings_ui/SettingsFileFlows.h"
#include "settings_ui/SettingsWindowServices.h"

class QCheckBox;
class QLabel;

namespace quorvel {

class BoundControls;
class KeyNames;
class SettingsBindings;

// The General pane: open at login, the tray icon, how updates arrive, the settings file (export and
// import) and the restore of every default. A report of an export or import shows in a message box.
// An import or a restore that brings back a shortcut another program holds says so under its button,
// for as long as the keys stay taken.
class GeneralPane final : public QWidget {
 public:
  GeneralPane(SettingsBindings& bindings, const SettingsWindowServices& services, QWidget* parent = nullptr);
  ~GeneralPane() override;

  QCheckBox* loginToggle() const { return loginToggle_; }
  QLabel* loginMessage() const { return loginMessage_; }
  // The notes under the import and the restore buttons about a shortcut that came back taken.
  QLabel* importNote() const { return importNote_; }
  QLabel* restoreNote() const { return restoreNote_; }
  // The import and the restore, as their buttons run them.
  void importSettings();
  void restoreDefaults();
  // What to say when a summon shortcut in the store is held by another program: none while both work.
  static std::optional<std::string> takenShortcutNote(const AppSettings& settings, const KeyNames& names,
                                                      const SettingsWindowServices::TakenCheck& taken);
  // The flows behind the buttons (tests run them directly).
  SettingsFileFlows& fileFlows() { return *flows_; }
  // Runs a flow's report through the message box (or, in tests, the report hook).
  void report(const std::optional<TransferReport>& report);
  std::function<void(const TransferReport&)> reportHook;

 private:
  void loginChanged(bool wanted);
  // Shows `note` (one of the two) with what the store's shortcuts are now; hides it when they work.
  void sayShortcut(QLabel* note);
  void followShortcutOwners();

  BoundControls* controls_;
  LoginSwitch login_;
  std::unique_ptr<SettingsFileFlows> flows_;
  QCheckBox* loginToggle_ = nullptr;
  QLabel* loginMessage_ = nullptr;
  QLabel* importNote_ = nullptr;
  QLabel* restoreNote_ = nullptr;
  const SettingsWindowServices& services_;
  Subscription ownersSubscription_;
};

}  // namespace quorvel
