#include "settings_ui/GeneralPane.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStandardPaths>
#include <QVBoxLayout>

#include "settings/AppSettings.h"
#include "settings/KeyNames.h"
#include "settings_ui/BoundControls.h"
#include "settings_ui/SettingsBindings.h"
#include "settings_ui/SettingsForm.h"

namespace quorvel {

namespace {

std::optional<std::filesystem::path> runFileDialog(QWidget* parent, bool saving) {
  QFileDialog dialog(parent);
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setNameFilter("JSON files (*.json)");
  dialog.setDirectory(QStandardPaths::writableLocation(QStandardPaths::HomeLocation));
  if (saving) {
    dialog.setWindowTitle("Save a copy of every setting.");
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setLabelText(QFileDialog::Accept, "Export");
    dialog.selectFile(SettingsFileFlows::kSuggestedName);
    dialog.setDefaultSuffix("json");
  } else {
    dialog.setWindowTitle("Choose a settings file to bring in.");
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setLabelText(QFileDialog::Accept, "Import");
  }
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return std::filesystem::path(dialog.selectedFiles().front().toStdString());
}

QLabel* shortcutNoteLabel(const char* objectName) {
  auto* note = new QLabel;
  note->setObjectName(objectName);
  note->setWordWrap(true);
  note->setTextInteractionFlags(Qt::TextSelectableByMouse);
  note->setStyleSheet("QLabel { color: #c0392b; }");
  note->hide();
  return note;
}

bool askRestore(QWidget* parent) {
  QMessageBox box(parent);
  box.setIcon(QMessageBox::Warning);
  box.setText("Restore all settings?");
  box.setInformativeText(
      "Every setting on every page goes back to the way it came. You cannot undo this. Your Open at login "
      "choice is left as it is.");
  QPushButton* restore = box.addButton("Restore", QMessageBox::DestructiveRole);
  box.addButton("Cancel", QMessageBox::RejectRole);
  box.exec();
  return box.clickedButton() == restore;
}

}  // namespace

GeneralPane::GeneralPane(SettingsBindings& bindings, const SettingsWindowServices& services, QWidget* parent)
    : QWidget(parent),
      controls_(new BoundControls(bindings, this)),
      login_(services.loginItemEnabled ? services.loginItemEnabled() : false, services.setLoginItem),
      services_(services) {
  SettingsFileFlows::Dialogs dialogs = services.dialogs;
  if (!dialogs.chooseExportFile) dialogs.chooseExportFile = [this] { return runFileDialog(this, true); };
  if (!dialogs.chooseImportFile) dialogs.chooseImportFile = [this] { return runFileDialog(this, false); };
  if (!dialogs.confirmRestore) dialogs.confirmRestore = [this] { return askRestore(this); };
  flows_ = std::make_unique<SettingsFileFlows>(bindings.settings(), std::move(dialogs));

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  auto* form = new SettingsForm;
  layout->addWidget(form);

  QFormLayout* startup = form->section("Startup");
  loginToggle_ = new QCheckBox("Open at login");
  loginToggle_->setObjectName("launchAtLogin");
  loginToggle_->setChecked(login_.enabled());
  QObject::connect(loginToggle_, &QCheckBox::toggled, this, [this](bool on) { loginChanged(on); });
  startup->addRow(loginToggle_);
  loginMessage_ = new QLabel;
  loginMessage_->setObjectName("launchAtLoginError");
  loginMessage_->setWordWrap(true);
  loginMessage_->setStyleSheet("QLabel { color: #c0392b; }");
  loginMessage_->hide();
  startup->addRow(loginMessage_);
  startup->addRow(controls_->toggle(AppSettings::Key::showMenuBarIcon, "Show the tray icon"));
  form->footnote(
      "With the icon hidden Quorvel still runs. Start Quorvel again from your applications menu to get back to "
      "these settings.");

  QFormLayout* updates = form->section("Updates");
  updates->addRow(SettingsForm::explainer("Your package manager brings new versions of Quorvel, with your other updates."));

  QFormLayout* file = form->section("Settings file");
  auto* exportButton = new QPushButton(QString::fromUtf8("Export Settings\u2026"));
  exportButton->setObjectName("export");
  auto* importButton = new QPushButton(QString::fromUtf8("Import Settings\u2026"));
  importButton->setObjectName("import");
  QObject::connect(exportButton, &QPushButton::clicked, this, [this] { report(flows_->exportSettings()); });
  QObject::connect(importButton, &QPushButton::clicked, this, [this] { importSettings(); });
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(exportButton);
  buttons->addWidget(importButton);
  buttons->addStretch(1);
  file->addRow(buttons);
  importNote_ = shortcutNoteLabel("importShortcutNote");
  file->addRow(importNote_);
  form->footnote("Carry your settings to another computer, or keep a copy before trying things.");

  QFormLayout* reset = form->section("Reset");
  auto* restore = new QPushButton("Restore default settings");
  restore->setObjectName("restore");
  QObject::connect(restore, &QPushButton::clicked, this, [this] { restoreDefaults(); });
  reset->addRow(restore);
  restoreNote_ = shortcutNoteLabel("restoreShortcutNote");
  reset->addRow(restoreNote_);
  form->footnote("Your Open at login choice is left as it is.");

  form->footnote(
      "Most changes show up the next time you open the switcher; the shortcut and the arrangement change "
      "straight away.");
  form->finish();
  followShortcutOwners();
}

GeneralPane::~GeneralPane() = default;

void GeneralPane::loginChanged(bool wanted) {
  login_.userChanged(wanted);
  // The real state, set without counting as the user's change.
  const QSignalBlocker quiet(loginToggle_);
  loginToggle_->setChecked(login_.enabled());
  loginMessage_->setText(login_.message() ? QString::fromStdString(*login_.message()) : QString());
  loginMessage_->setVisible(login_.message().has_value());
}

void GeneralPane::importSettings() {
  const auto shortcuts = [this] {
    return std::pair{services_.settings.hotkeyBinding(HotkeySlot::first), services_.settings.hotkeyBinding(HotkeySlot::second)};
  };
  const auto before = shortcuts();
  const std::optional<TransferReport> result = flows_->importSettings();
  if (shortcuts() != before) sayShortcut(importNote_);
  report(result);
}

void GeneralPane::restoreDefaults() {
  if (flows_->restoreDefaults()) sayShortcut(restoreNote_);
}

std::optional<std::string> GeneralPane::takenShortcutNote(const AppSettings& settings, const KeyNames& names,
                                                          const SettingsWindowServices::TakenCheck& taken) {
  if (!taken) return std::nullopt;
  for (const HotkeySlot slot : {HotkeySlot::first, HotkeySlot::second}) {
    const std::optional<HotkeyBinding> binding = settings.hotkeyBinding(slot);
    if (!binding) continue;
    const std::optional<AdviceText> advice = taken(*binding);
    if (!advice) continue;
    const std::string which = slot == HotkeySlot::first ? "Your shortcut" : "Your second shortcut";
    // The holder the Shortcuts pane's advice names.
    return which + " is " + binding->displayString(names) + " now, and it is held by " + advice->heldBy() +
           ", so pressing it does not open the switcher. The Shortcuts pane says how to free it, or choose another "
           "shortcut there.";
  }
  return std::nullopt;
}

void GeneralPane::sayShortcut(QLabel* note) {
  const std::optional<std::string> text = takenShortcutNote(services_.settings, services_.keyNames, services_.shortcutTaken);
  note->setText(text ? QString::fromStdString(*text) : QString());
  note->setVisible(text.has_value());
  // Only the button used last speaks.
  QLabel* other = note == importNote_ ? restoreNote_ : importNote_;
  other->hide();
}

void GeneralPane::followShortcutOwners() {
  if (!services_.observeShortcutOwners) return;
  // A note once shown follows the keys: it goes when they are freed, and says a later change.
  ownersSubscription_ = services_.observeShortcutOwners([this] {
    for (QLabel* note : {importNote_, restoreNote_}) {
      if (!note->isHidden()) sayShortcut(note);
    }
  });
}

void GeneralPane::report(const std::optional<TransferReport>& report) {
  if (!report) return;
  if (reportHook) {
    reportHook(*report);
    return;
  }
  QMessageBox box(this);
  box.setText(QString::fromStdString(report->title));
  box.setInformativeText(QString::fromStdString(report->message));
  // The message may quote the file's own keys: never read as markup.
  for (QLabel* label : box.findChildren<QLabel*>()) label->setTextFormat(Qt::PlainText);
  box.addButton("OK", QMessageBox::AcceptRole);
  box.exec();
}

}  // namespace quorvel
