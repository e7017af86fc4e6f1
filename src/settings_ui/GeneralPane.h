#pragma once

#include <QWidget>

#include <memory>
#include <optional>

#include "settings_ui/LoginSwitch.h"
#include "settings_ui/SettingsFileFlows.h"
#include "settings_ui/SettingsWindowServices.h"

class QCheckBox;
class QLabel;

namespace quorvel {

class BoundControls;
class SettingsBindings;

// The General pane: open at login, the tray icon, how updates arrive, the settings file (export and
// import) and the restore of every default. A report of an export or import shows in a message box.
class GeneralPane final : public QWidget {
 public:
  GeneralPane(SettingsBindings& bindings, const SettingsWindowServices& services, QWidget* parent = nullptr);
  ~GeneralPane() override;

  QCheckBox* loginToggle() const { return loginToggle_; }
  QLabel* loginMessage() const { return loginMessage_; }
  // The flows behind the buttons (tests run them directly).
  SettingsFileFlows& fileFlows() { return *flows_; }
  // Runs a flow's report through the message box (or, in tests, the report hook).
  void report(const std::optional<TransferReport>& report);
  std::function<void(const TransferReport&)> reportHook;

 private:
  void loginChanged(bool wanted);

  BoundControls* controls_;
  LoginSwitch login_;
  std::unique_ptr<SettingsFileFlows> flows_;
  QCheckBox* loginToggle_ = nullptr;
  QLabel* loginMessage_ = nullptr;
};

}  // namespace quorvel
