#include "settings_ui/PassThroughAppsScreen.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include "settings/AppSettings.h"
#include "settings_ui/SettingsBindings.h"
#include "settings_ui/SettingsForm.h"

namespace quorvel {

namespace {

// One application with its remove button.
QWidget* appRow(const AppChoice& app, std::function<void()> remove) {
  auto* button = new QToolButton;
  button->setObjectName(QString::fromStdString("remove:" + app.identifier));
  button->setAutoRaise(true);
  button->setText(QString::fromUtf8("\u2212"));
  button->setToolTip("Let the switcher use the shortcut in this app again");
  button->setAccessibleName(QString::fromStdString("Stop passing the shortcut to " + app.name));
  QWidget* row = appListRow(app, button);
  QObject::connect(button, &QToolButton::clicked, row, [remove = std::move(remove)] { remove(); });
  return row;
}

}  // namespace

PassThroughAppsScreen::PassThroughAppsScreen(SettingsBindings& bindings, const SettingsWindowServices& services,
                                             QWidget* parent)
    : QWidget(parent), bindings_(bindings), services_(services) {
  AppSettings& settings = bindings_.settings();
  editor_ = std::make_unique<AppListEditor>(
      [&settings] { return settings.stringList(AppSettings::Key::passThroughBundleIDs).value_or(std::vector<std::string>{}); },
      [&settings](const std::vector<std::string>& ids) { settings.setPassThroughBundleIDs(ids); });
  chooser = [this] {
    return chooseApps(this, "Choose an app that should keep the shortcut for itself.", "Add",
                      services_.applications ? services_.applications() : std::vector<AppChoice>{});
  };
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  setFixedWidth(SettingsForm::kWidth);
  rebuild();
  subscription_ = bindings_.observe([this] {
    if (editor_->reload()) rebuild();
  });
}

PassThroughAppsScreen::~PassThroughAppsScreen() = default;

void PassThroughAppsScreen::addApps() {
  editor_->add(chooser ? chooser() : std::vector<std::string>{});
  rebuild();
}

void PassThroughAppsScreen::removeApp(const std::string& identifier) {
  editor_->remove(identifier);
  rebuild();
}

void PassThroughAppsScreen::rebuild() {
  if (form_) {
    form_->hide();
    form_->deleteLater();
  }
  form_ = new SettingsForm;
  QFormLayout* section = form_->section("Apps that keep the shortcut");
  for (const std::string& id : editor_->apps()) {
    section->addRow(appRow(AppDisplayNames::find(id, services_.applications), [this, id] { removeApp(id); }));
  }
  auto* add = new QPushButton(QString::fromUtf8("Add app\u2026"));
  add->setObjectName("add");
  QObject::connect(add, &QPushButton::clicked, this, [this] { addApps(); });
  section->addRow(add);
  form_->footnote(
      "While one of these apps is in front, the shortcut goes to it instead of opening the switcher. For virtual "
      "machines, remote desktops and games, which have their own window switching inside them.");
  form_->finish();
  layout()->addWidget(form_);
}

}  // namespace quorvel
