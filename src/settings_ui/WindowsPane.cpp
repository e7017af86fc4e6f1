#include "settings_ui/WindowsPane.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "settings/AppSettings.h"
#include "settings_ui/BoundControls.h"
#include "settings_ui/HiddenAppsScreen.h"
#include "settings_ui/PaneKit.h"
#include "settings_ui/SettingsBindings.h"
#include "settings_ui/SettingsForm.h"
#include "settings_ui/SettingsNavigator.h"
#include "settings_ui/StacksAndTabsScreen.h"

namespace quorvel {

namespace {

using K = AppSettings::Key;

std::vector<std::string> storedHidden(const SettingsBindings& bindings) {
  return bindings.settings().stringList(K::hiddenBundleIDs).value_or(std::vector<std::string>{});
}

}  // namespace

WindowsPane::WindowsPane(SettingsBindings& bindings, const SettingsWindowServices& services,
                         SettingsNavigator& navigator, QWidget* parent)
    : QWidget(parent), bindings_(bindings), services_(services), navigator_(navigator),
      controls_(new BoundControls(bindings, this)), hiddenApps_(storedHidden(bindings)) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  auto* form = new SettingsForm;
  layout->addWidget(form);
  const std::vector<QString> category = {"Show", "Show at the end", "Hide"};

  which_ = form->section("Which windows show up");
  which_->addRow("Windows from other desktops", controls_->picker(K::otherSpacesDisplay, category));
  which_->addRow("Minimized windows", controls_->picker(K::minimizedDisplay, category));
  // X11 hides no application and keeps none running without a window: the switcher never meets
  // either kind, so there is nothing to choose for them.
  which_->addRow("Private browsing windows",
                 controls_->picker(K::privateWindowsDisplay,
                                   {"Show normally", "Blur the picture", "Hide the picture", "Hide"}));
  privateNames_ = controls_->toggle(K::privateWindowNames, "Show their names");
  which_->addRow(privateNames_);
  form->footnote(
      "Show at the end keeps a kind of window in the switcher but puts it after your other windows. Hide leaves it "
      "out. A blurred private window keeps its shape and its colours, so you can tell which one it is without reading "
      "it. Showing their names lets you search for them again.");
  QWidget* spotting = PaneKit::disclosure(
      "How the switcher spots a private window",
      "Only when the browser says so somewhere it can read. Firefox says it in the window title, so it is spotted "
      "straight away. Chrome, Brave and the other Chromium-based browsers say it only in the window's role that "
      "assistive technology reads, so those are spotted only while the desktop's accessibility support is on.");
  spotting->setContentsMargins(8, 0, 8, 4);
  form->layout()->addWidget(spotting);

  // No row for keeping the switcher out of screen recordings: X11 lets any program read the screen.

  QFormLayout* order = form->section("Order and stacks");
  order->addRow("Order", controls_->picker(K::windowOrder, {"Recently used", "Fixed layout", "By name", "By desktop"}));
  stacksRow_ = SettingsForm::drillRow("Stacks and tabs");
  stacksRow_->setObjectName("stacksAndTabs");
  QObject::connect(stacksRow_, &QPushButton::clicked, this,
                   [this] { navigator_.push(new StacksAndTabsScreen(bindings_), "Stacks and tabs"); });
  order->addRow(stacksRow_);
  orderNote_ = form->footnote({});

  QFormLayout* search = form->section("Searching and tips");
  search->addRow(controls_->toggle(K::searchEnabled, "Search your windows by typing"));
  search->addRow(controls_->toggle(K::showTips, "Show tips"));
  form->footnote(
      "Press Space while the switcher is open, then type an app or window name. Tips are the faint lines that point "
      "out a key you can press.");

  closing_ = form->section("Closing and minimizing");
  closing_->addRow(controls_->toggle(K::windowActionsEnabled, "Close and minimize from the switcher"));
  actionButtons_ = controls_->toggle(K::showActionButtons, "Show the buttons on the selected window");
  closing_->addRow(actionButtons_);
  form->footnote(
      "With the switcher open, W closes the selected window and M minimizes it. Closing does not quit the app, and "
      "one that needs to ask about unsaved changes closes the switcher so you can answer it.");

  QFormLayout* hidden = form->section({});
  hiddenRow_ = SettingsForm::drillRow("Apps to hide");
  hiddenRow_->setObjectName("hiddenApps");
  QObject::connect(hiddenRow_, &QPushButton::clicked, this,
                   [this] { navigator_.push(new HiddenAppsScreen(bindings_, services_), "Apps to hide"); });
  hidden->addRow(hiddenRow_);
  form->finish();

  controls_->onRefresh([this] { followValues(); });
  subscription_ = bindings_.observe([this] {
    auto stored = storedHidden(bindings_);
    if (stored != hiddenApps_) hiddenApps_ = std::move(stored);
    SettingsForm::setDrillValue(hiddenRow_, SettingsForm::countText(hiddenApps_.size(), "None"));
  });
  followValues();
}

WindowsPane::~WindowsPane() = default;

QString WindowsPane::stacksSummary() const {
  const bool tabs = bindings_.flag(K::bunchTabs) && bindings_.text(K::tabsDisplay) != "off";
  const bool apps = bindings_.flag(K::bunchAppWindows) && bindings_.flag(K::groupByApp);
  if (tabs && apps) return "Tabs and app windows stacked";
  if (tabs) return "Tabs stacked";
  if (apps) return "App windows stacked";
  return "Nothing stacked";
}

QString WindowsPane::orderExplanation() const {
  const auto order = SettingEnums::fromRawValue<AppSettings::WindowOrder>(bindings_.text(K::windowOrder))
                         .value_or(AppSettings::WindowOrder::recent);
  QString text;
  switch (order) {
    case AppSettings::WindowOrder::recent:
      text = "Recently used: the window you just left is first, so a quick tap of the shortcut jumps back to it, but "
             "the order reshuffles as you switch.";
      break;
    case AppSettings::WindowOrder::fixed:
      text = "Fixed layout: windows keep their place, sorted by when they opened, so you can learn where each one is. "
             "It changes only when a window opens or closes. A quick tap of the shortcut still flips to your last "
             "window.";
      break;
    case AppSettings::WindowOrder::alphabetical:
      text = "By name: windows sorted by their own title. Nothing else moves them, so the order stays the same until "
             "a window opens, closes or is renamed.";
      break;
    case AppSettings::WindowOrder::bySpace:
      text = "By desktop: the windows on the desktop you are looking at come first, then the ones on desktop 1, 2, 3 "
             "and so on, sorted by name inside each desktop. Minimized windows come last.";
      break;
  }
  if (bindings_.flag(K::groupByApp)) {
    text += " Each app's windows are kept together in one unbroken row inside that order, which is set under Stacks "
            "and tabs.";
  }
  return text;
}

void WindowsPane::followValues() {
  const std::string privacy = bindings_.text(K::privateWindowsDisplay);
  which_->setRowVisible(privateNames_, privacy == "blur" || privacy == "hidePicture");
  closing_->setRowVisible(actionButtons_, bindings_.flag(K::windowActionsEnabled));
  orderNote_->setText(orderExplanation());
  SettingsForm::setDrillValue(stacksRow_, stacksSummary());
  SettingsForm::setDrillValue(hiddenRow_, SettingsForm::countText(hiddenApps_.size(), "None"));
}

}  // namespace quorvel
