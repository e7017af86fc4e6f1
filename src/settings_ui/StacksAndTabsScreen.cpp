#include "settings_ui/StacksAndTabsScreen.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QVBoxLayout>

#include "settings/AppSettings.h"
#include "settings_ui/BoundControls.h"
#include "settings_ui/PaneKit.h"
#include "settings_ui/SettingsBindings.h"
#include "settings_ui/SettingsForm.h"
#include "tabs/TabAdapter.h"

namespace quorvel {

namespace {

using K = AppSettings::Key;

// The adapters that find something on this system: those that know a Linux build's window class.
std::vector<QString> adapterNames(bool browsers) {
  std::vector<QString> names;
  for (const TabAdapter& adapter : TabAdapter::table()) {
    if (adapter.tabsAreWindows == browsers) continue;
    bool here = false;
    for (const std::string& prefix : adapter.bundlePrefixes) here = here || prefix.rfind("x11.", 0) == 0;
    if (here) names.push_back(QString::fromStdString(adapter.name));
  }
  return names;
}

}  // namespace

QString StacksAndTabsScreen::listed(const std::vector<QString>& names) {
  if (names.empty()) return {};
  QString out = names.front();
  for (size_t i = 1; i < names.size(); ++i) out += (i + 1 == names.size() ? " and " : ", ") + names[i];
  return out;
}

QString StacksAndTabsScreen::tabBrowserNames() { return listed(adapterNames(true)); }
QString StacksAndTabsScreen::nonBrowserTabAppNames() { return listed(adapterNames(false)); }

StacksAndTabsScreen::StacksAndTabsScreen(SettingsBindings& bindings, QWidget* parent)
    : QWidget(parent), bindings_(bindings), controls_(new BoundControls(bindings, this)) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  setFixedWidth(SettingsForm::kWidth);
  auto* form = new SettingsForm;
  layout->addWidget(form);

  tabs_ = form->section("Tabs");
  tabs_->addRow("Tab cards", controls_->picker(K::tabsDisplay, {"Off", "While searching", "Always"}));
  bunchTabs_ = controls_->toggle(K::bunchTabs, "Stack a window's tabs together");
  tabs_->addRow(bunchTabs_);
  keepWindowCard_ = controls_->toggle(K::keepWindowCardBesideTabs, "Keep the window's own card beside its tabs");
  tabs_->addRow(keepWindowCard_);
  siteIcons_ = controls_->toggle(K::tabSiteIcons, "Show each website's icon on tab cards");
  tabs_->addRow(siteIcons_);
  form->footnote(
      "Gives each tab its own card, so you reach a tab the way you reach a window. While searching brings them in as "
      "you type and takes them away when you clear the box.");
  const QString others = nonBrowserTabAppNames();
  form->footnote("Works in " + tabBrowserNames() + (others.isEmpty() ? QString() : ", and in " + others) +
                 ". Browsers show their tabs only while the desktop's accessibility support is on: Quorvel turns it "
                 "on for your session, and a browser started before that shows its tabs once it is started again. "
                 "Firefox and the Chromium-based browsers also show them when started with GNOME_ACCESSIBILITY=1 or "
                 "ACCESSIBILITY_ENABLED=1.");
  tabsNotes_ = new QWidget;
  auto* notes = new QVBoxLayout(tabsNotes_);
  notes->setContentsMargins(8, 0, 8, 4);
  notes->setSpacing(8);
  notes->addWidget(SettingsForm::explainer(
      "Stacking puts one window's tabs in a single place, so a browser with twenty tabs open takes one place instead "
      "of twenty."));
  notes->addWidget(SettingsForm::explainer(
      "Knowing the website also lets the search find a tab by it, so typing chatgpt finds a ChatGPT tab whatever the "
      "conversation is called."));
  notes->addWidget(PaneKit::disclosure(
      "Where the website icons come from",
      "The switcher reads the icons and the list of pages that Chrome and Firefox keep on this computer. All of it "
      "stays here: nothing is sent anywhere, nothing about the pages you have visited is saved by the switcher or "
      "included when you send feedback, and it is all forgotten when you quit. Turn this off and a tab card wears the "
      "browser's own icon, and the search looks at names alone."));
  form->layout()->addWidget(tabsNotes_);

  QFormLayout* apps = form->section("Applications");
  apps->addRow(controls_->toggle(K::groupByApp, "Keep an app's windows next to each other"));
  apps->addRow(controls_->toggle(K::bunchAppWindows, "Stack an app's windows together like a tab stack"));
  form->footnote(
      "Keeping them next to each other means an app's windows sit in one unbroken row: five Terminal windows stay "
      "five in a row, with no other app's window in the middle. Its minimized windows join the end of that row "
      "instead of waiting at the back with everybody else's. Where the row sits, and the order inside it, are "
      "decided by what you picked under Order, and all four orders work this way, except that By desktop keeps each "
      "desktop's windows to itself.");
  form->footnote(
      "Stacking then piles that row into one place, so an app with nine windows open takes one place instead of "
      "nine. It needs the windows kept next to each other, because a stack is a row of neighbours: on its own it "
      "changes nothing.");

  stacksBox_ = new QWidget;
  auto* stacks = new QVBoxLayout(stacksBox_);
  stacks->setContentsMargins(0, 6, 0, 0);
  auto* group = new QGroupBox("Stacks");
  auto* rows = new QFormLayout(group);
  rows->addRow("Stack order", controls_->picker(K::stackOrder, {"Recently used on top", "The app's own order"}));
  stacks->addWidget(group);
  for (const char* text :
       {"A stack is one place holding a pile of cards. Moving the selection turns the pile over one card at a time and "
        "nothing else in the switcher moves; every card in it can still be picked and searched for.",
        "Recently used on top puts the window or tab you were last in at the front of its pile. The app's own order "
        "keeps the pile the way the app shows it."}) {
    QLabel* note = SettingsForm::explainer(text);
    note->setContentsMargins(8, 0, 8, 4);
    stacks->addWidget(note);
  }
  form->layout()->addWidget(stacksBox_);
  form->finish();

  controls_->onRefresh([this] { followValues(); });
  followValues();
}

bool StacksAndTabsScreen::tabsOn() const { return bindings_.text(K::tabsDisplay) != "off"; }

bool StacksAndTabsScreen::showsStacksSection() const {
  return (bindings_.flag(K::bunchTabs) && tabsOn()) || (bindings_.flag(K::bunchAppWindows) && bindings_.flag(K::groupByApp));
}

void StacksAndTabsScreen::followValues() {
  const bool on = tabsOn();
  tabs_->setRowVisible(bunchTabs_, on);
  tabs_->setRowVisible(keepWindowCard_, on && bindings_.flag(K::bunchTabs));
  tabs_->setRowVisible(siteIcons_, on);
  tabsNotes_->setVisible(on);
  stacksBox_->setVisible(showsStacksSection());
}

}  // namespace quorvel
