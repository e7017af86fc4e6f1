#pragma once

#include <QString>
#include <QWidget>

#include <string>
#include <vector>

#include "base/Subscription.h"
#include "settings_ui/SettingsWindowServices.h"

class QFormLayout;
class QLabel;
class QPushButton;

namespace quorvel {

class BoundControls;
class SettingsBindings;
class SettingsNavigator;

// The Windows pane: which windows the switcher shows, screen sharing, the order of the cards (with
// the stacks and tabs screen), search and tips, closing and minimizing, and the applications to
// hide (their own screen). Rows that depend on another choice show only while it holds.
class WindowsPane final : public QWidget {
 public:
  WindowsPane(SettingsBindings& bindings, const SettingsWindowServices& services, SettingsNavigator& navigator,
              QWidget* parent = nullptr);
  ~WindowsPane() override;

  // The order's footnote for what the settings hold now.
  QString orderExplanation() const;
  // The value of the "Stacks and tabs" row.
  QString stacksSummary() const;
  const std::vector<std::string>& hiddenApps() const { return hiddenApps_; }
  QPushButton* hiddenAppsRow() const { return hiddenRow_; }
  QPushButton* stacksRow() const { return stacksRow_; }

 private:
  void followValues();

  SettingsBindings& bindings_;
  const SettingsWindowServices& services_;
  SettingsNavigator& navigator_;
  BoundControls* controls_;
  QFormLayout* which_ = nullptr;
  QFormLayout* closing_ = nullptr;
  QWidget* privateNames_ = nullptr;
  QWidget* actionButtons_ = nullptr;
  QLabel* orderNote_ = nullptr;
  QPushButton* stacksRow_ = nullptr;
  QPushButton* hiddenRow_ = nullptr;
  std::vector<std::string> hiddenApps_;
  Subscription subscription_;
};

}  // namespace quorvel
