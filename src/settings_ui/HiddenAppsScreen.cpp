#include "settings_ui/HiddenAppsScreen.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QToolButton>
#include <QVBoxLayout>

#include "settings/AppSettings.h"
#include "settings_ui/SettingsBindings.h"
#include "settings_ui/SettingsForm.h"

namespace quorvel {

HiddenAppsScreen::HiddenAppsScreen(SettingsBindings& bindings, const SettingsWindowServices& services, QWidget* parent)
    : QWidget(parent), bindings_(bindings), services_(services), words_(bindings.settings()) {
  AppSettings& settings = bindings_.settings();
  editor_ = std::make_unique<AppListEditor>(
      [&settings] { return settings.stringList(AppSettings::Key::hiddenBundleIDs).value_or(std::vector<std::string>{}); },
      [&settings](const std::vector<std::string>& ids) { settings.setHiddenBundleIDs(ids); });
  chooser = [this] {
    return chooseApps(this, "Choose an app whose windows the switcher should never show.", "Hide",
                      services_.applications ? services_.applications() : std::vector<AppChoice>{});
  };
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  setFixedWidth(SettingsForm::kWidth);
  rebuild();
  subscription_ = bindings_.observe([this] { reload(); });
}

HiddenAppsScreen::~HiddenAppsScreen() = default;

void HiddenAppsScreen::addApps() {
  editor_->add(chooser ? chooser() : std::vector<std::string>{});
  reload();
  rebuild();
}

void HiddenAppsScreen::removeApp(const std::string& identifier) {
  editor_->remove(identifier);
  reload();
  rebuild();
}

QLineEdit* HiddenAppsScreen::wordsField(const std::string& identifier) const {
  const auto it = fields_.find(identifier);
  return it == fields_.end() ? nullptr : it->second;
}

void HiddenAppsScreen::reload() {
  const bool listChanged = editor_->reload();
  for (const std::string& id : words_.sync()) {
    if (QLineEdit* field = wordsField(id)) {
      const QSignalBlocker quiet(field);
      field->setText(QString::fromStdString(words_.text(id)));
    }
  }
  if (listChanged) rebuild();
}

void HiddenAppsScreen::rebuild() {
  if (form_) {
    form_->hide();
    form_->deleteLater();
  }
  fields_.clear();
  form_ = new SettingsForm;
  QFormLayout* section = form_->section("Apps to hide");
  for (const std::string& id : editor_->apps()) {
    const AppChoice app = AppDisplayNames::find(id, services_.applications);
    const std::string& name = app.name;
    auto* entry = new QWidget;
    auto* column = new QVBoxLayout(entry);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(6);
    auto* remove = new QToolButton;
    remove->setObjectName(QString::fromStdString("remove:" + id));
    remove->setAutoRaise(true);
    remove->setText(QString::fromUtf8("\u2212"));
    remove->setToolTip("Show this app's windows again");
    remove->setAccessibleName(QString::fromStdString("Stop hiding " + name));
    QObject::connect(remove, &QToolButton::clicked, this, [this, id] { removeApp(id); });
    column->addWidget(appListRow(app, remove));
    auto* field = new QLineEdit(QString::fromStdString(words_.text(id)));
    field->setObjectName(QString::fromStdString("words:" + id));
    field->setPlaceholderText("Every window of this app");
    field->setAccessibleName(QString::fromStdString("Words in the window title to hide for " + name));
    QObject::connect(field, &QLineEdit::textEdited, this,
                     [this, id](const QString& text) { words_.setText(text.toStdString(), id); });
    column->addWidget(field);
    fields_[id] = field;
    section->addRow(entry);
  }
  auto* add = new QPushButton(QString::fromUtf8("Add app\u2026"));
  add->setObjectName("add");
  QObject::connect(add, &QPushButton::clicked, this, [this] { addApps(); });
  section->addRow(add);
  form_->footnote(
      "Leave an app's box empty to hide every window of it. Put words in it, separated by commas, to hide only the "
      "windows whose title contains one of them.");
  form_->finish();
  layout()->addWidget(form_);
}

}  // namespace quorvel
