#include "settings_ui/AppLists.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QIcon>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <map>

namespace quorvel {

void AppListEditor::add(const std::vector<std::string>& chosen) {
  if (chosen.empty()) return;
  std::vector<std::string> next = apps_;
  next.insert(next.end(), chosen.begin(), chosen.end());
  write_(next);
  apps_ = read_();
}

void AppListEditor::remove(const std::string& identifier) {
  std::vector<std::string> next = apps_;
  std::erase(next, identifier);
  write_(next);
  apps_ = read_();
}

bool AppListEditor::reload() {
  std::vector<std::string> stored = read_();
  if (stored == apps_) return false;
  apps_ = std::move(stored);
  return true;
}

namespace {
struct NameCache {
  bool loaded = false;
  std::map<std::string, std::string> names;
};
NameCache& cache() {
  static NameCache instance;
  return instance;
}
}  // namespace

std::string AppDisplayNames::name(const std::string& identifier,
                                  const std::function<std::vector<AppChoice>()>& applications) {
  NameCache& c = cache();
  if (auto found = c.names.find(identifier); found != c.names.end()) return found->second;
  if (!c.loaded && applications) {
    c.loaded = true;
    for (const AppChoice& app : applications()) {
      if (!app.name.empty()) c.names.emplace(app.identifier, app.name);
    }
    if (auto found = c.names.find(identifier); found != c.names.end()) return found->second;
  }
  c.names.emplace(identifier, identifier);
  return identifier;
}

void AppDisplayNames::clearForTesting() { cache() = NameCache{}; }

std::vector<std::string> chooseApps(QWidget* parent, const QString& message, const QString& prompt,
                                    const std::vector<AppChoice>& choices) {
  QDialog dialog(parent);
  dialog.setWindowTitle(message);
  auto* layout = new QVBoxLayout(&dialog);
  auto* text = new QLabel(message);
  text->setWordWrap(true);
  layout->addWidget(text);
  auto* list = new QListWidget;
  list->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list->setIconSize(QSize(24, 24));
  for (const AppChoice& app : choices) {
    auto* item = new QListWidgetItem(QString::fromStdString(app.name.empty() ? app.identifier : app.name));
    if (!app.iconFile.empty()) item->setIcon(QIcon(QString::fromStdString(app.iconFile)));
    item->setData(Qt::UserRole, QString::fromStdString(app.identifier));
    item->setToolTip(QString::fromStdString(app.identifier));
    list->addItem(item);
  }
  layout->addWidget(list);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel);
  QPushButton* confirm = buttons->addButton(prompt, QDialogButtonBox::AcceptRole);
  confirm->setDefault(true);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  QObject::connect(list, &QListWidget::itemDoubleClicked, &dialog, &QDialog::accept);
  layout->addWidget(buttons);
  dialog.resize(420, 480);
  if (dialog.exec() != QDialog::Accepted) return {};
  std::vector<std::string> chosen;
  for (int i = 0; i < list->count(); ++i) {
    QListWidgetItem* item = list->item(i);
    if (item->isSelected()) chosen.push_back(item->data(Qt::UserRole).toString().toStdString());
  }
  return chosen;
}

}  // namespace quorvel
