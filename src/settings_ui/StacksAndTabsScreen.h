#pragma once

#include <QString>
#include <QWidget>

class QFormLayout;
class QLabel;

namespace quorvel {

class BoundControls;
class SettingsBindings;

// Browser tabs as cards of their own and the stacks: whether tabs get cards, whether a window's
// tabs and an application's windows pile into one place, and in which order a pile lies. Rows and
// the stacks section show only while they matter; hidden settings keep their values.
class StacksAndTabsScreen final : public QWidget {
 public:
  explicit StacksAndTabsScreen(SettingsBindings& bindings, QWidget* parent = nullptr);

  // Tabs are on for any stored "tabsDisplay" but "off".
  bool tabsOn() const;
  bool showsStacksSection() const;
  // "Firefox, Chrome … and Chromium": the browsers this build reads tabs from.
  static QString tabBrowserNames();
  // The applications other than browsers whose tabs become cards here ("" when none).
  static QString nonBrowserTabAppNames();
  // "A", "A and B", "A, B and C".
  static QString listed(const std::vector<QString>& names);

 private:
  void followValues();

  SettingsBindings& bindings_;
  BoundControls* controls_;
  QFormLayout* tabs_ = nullptr;
  QWidget* bunchTabs_ = nullptr;
  QWidget* keepWindowCard_ = nullptr;
  QWidget* siteIcons_ = nullptr;
  QWidget* tabsNotes_ = nullptr;
  QWidget* stacksBox_ = nullptr;
};

}  // namespace quorvel
