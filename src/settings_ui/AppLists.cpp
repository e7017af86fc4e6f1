#include "settings_ui/AppLists.h"

#include <QDialog>
#include <QApplication>
#include <QDialogButtonBox>
#include <QPainter>
#include <QHBoxLayout>
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

struct AppCache {
  bool loaded = false;
  std::vector<AppChoice> applications;
};
AppCache& cache() {
  static AppCache instance;
  return instance;
}

// The applications that keep the shortcut by default (remote desktops and virtual machines), named
// as their makers name them.
const std::map<std::string, std::string>& knownNames() {
  static const std::map<std::string, std::string> names{
      {"x11.gnome-boxes", "Boxes"},         {"x11.krdc", "KRDC"},
      {"x11.org.gnome.connections", "Connections"}, {"x11.org.remmina.", "Remmina"},
      {"x11.qemu-system-x86_64", "QEMU"},   {"x11.remote-viewer", "Remote Viewer"},
      {"x11.teamviewer", "TeamViewer"},     {"x11.virtualbox-machine", "VirtualBox"},
      {"x11.vmware", "VMware"},             {"x11.vncviewer", "TigerVNC Viewer"},
      {"x11.xfreerdp", "FreeRDP"}};
  return names;
}

// An application without an icon of its own: its initial on a plain tile.
QPixmap initialTile(const std::string& name, const QPalette& palette) {
  const qreal scale = qApp ? qApp->devicePixelRatio() : 1.0;
  QPixmap tile(QSize(24, 24) * scale);
  tile.setDevicePixelRatio(scale);
  tile.fill(Qt::transparent);
  QPainter painter(&tile);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(palette.color(QPalette::Mid));
  painter.drawRoundedRect(QRectF(1, 1, 22, 22), 5, 5);
  painter.setPen(palette.color(QPalette::Light));
  QFont font = painter.font();
  font.setBold(true);
  font.setPixelSize(13);
  painter.setFont(font);
  const QString text = QString::fromStdString(name);
  painter.drawText(QRectF(0, 0, 24, 24), Qt::AlignCenter, text.isEmpty() ? QString() : text.left(1).toUpper());
  return tile;
}

}  // namespace

AppChoice AppDisplayNames::find(const std::string& identifier,
                                const std::function<std::vector<AppChoice>()>& applications) {
  AppCache& c = cache();
  if (!c.loaded && applications) {
    c.loaded = true;
    c.applications = applications();
  }
  const bool prefix = identifier.ends_with('.');
  for (const AppChoice& app : c.applications) {
    if (app.name.empty()) continue;
    if (app.identifier == identifier || (prefix && app.identifier.starts_with(identifier))) {
      return {identifier, app.name, app.iconFile};
    }
  }
  if (auto known = knownNames().find(identifier); known != knownNames().end()) return {identifier, known->second, {}};
  return {identifier, windowClass(identifier), {}};
}

std::string AppDisplayNames::windowClass(const std::string& identifier) {
  std::string name = identifier.starts_with("x11.") ? identifier.substr(4) : identifier;
  if (name.ends_with('.')) name += '*';
  return name;
}

void AppDisplayNames::clearForTesting() { cache() = AppCache{}; }

QWidget* appListRow(const AppChoice& app, QWidget* trailing) {
  auto* row = new QWidget;
  auto* layout = new QHBoxLayout(row);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(10);
  auto* picture = new QLabel;
  picture->setObjectName("icon");
  picture->setFixedSize(24, 24);
  QIcon icon = app.iconFile.empty() ? QIcon() : QIcon(QString::fromStdString(app.iconFile));
  if (icon.isNull()) icon = QIcon::fromTheme("application-x-executable");
  picture->setPixmap(icon.isNull() ? initialTile(app.name, picture->palette()) : icon.pixmap(24, 24));
  layout->addWidget(picture, 0, Qt::AlignVCenter);
  auto* names = new QVBoxLayout;
  names->setSpacing(1);
  auto* name = new QLabel(QString::fromStdString(app.name));
  name->setObjectName("name");
  names->addWidget(name);
  const std::string windowClass = AppDisplayNames::windowClass(app.identifier);
  if (windowClass != app.name) {
    auto* caption = new QLabel(QString::fromStdString(windowClass));
    caption->setObjectName("class");
    QFont font = caption->font();
    font.setPointSizeF(font.pointSizeF() * 0.85);
    caption->setFont(font);
    caption->setForegroundRole(QPalette::PlaceholderText);
    names->addWidget(caption);
  }
  layout->addLayout(names, 1);
  if (trailing) layout->addWidget(trailing);
  return row;
}

std::vector<std::string> chooseApps(QWidget* parent, const QString& message, const QString& prompt,
                                    const std::vector<AppChoice>& choices) {
  QDialog dialog(parent);
  // The message is a sentence for the body; a title bar would cut it short.
  dialog.setWindowTitle("Choose an app");
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
