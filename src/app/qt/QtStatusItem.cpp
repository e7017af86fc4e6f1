#include "app/qt/QtStatusItem.h"

#include <QApplication>
#include <QCursor>
#include <QIcon>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QSystemTrayIcon>

#include "app/qt/QtMenuBuilder.h"

namespace quorvel {

namespace {

// Three cards stacked in depth, drawn in the panel's usual light foreground.
QIcon trayArt() {
  QIcon icon;
  for (int side : {16, 22, 24, 32, 48, 64}) {
    QPixmap pixmap(side, side);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const double s = side / 16.0;
    for (int i = 0; i < 3; ++i) {
      const double inset = (2 - i) * 1.6 * s;
      QRectF card(1.5 * s + inset, 1.5 * s + (2 - i) * 0.0 + i * 1.8 * s, 13 * s - 2 * inset, 9 * s - inset);
      QPainterPath path;
      path.addRoundedRect(card, 1.6 * s, 1.6 * s);
      painter.setOpacity(i == 2 ? 1.0 : 0.55);
      painter.fillPath(path, QColor(240, 240, 240));
      painter.setOpacity(1.0);
      painter.strokePath(path, QPen(QColor(40, 40, 40, 160), 0.6 * s));
    }
    painter.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}

}  // namespace

QtStatusItem::QtStatusItem(const Menu& menu, const AppShell::MenuHandler& handler, std::function<void()> willOpen)
    : menu_(std::make_unique<QMenu>()), icon_(std::make_unique<QSystemTrayIcon>()) {
  QtMenuBuilder::fill(*menu_, menu, handler);
  if (willOpen) QObject::connect(menu_.get(), &QMenu::aboutToShow, menu_.get(), std::move(willOpen));
  icon_->setIcon(trayArt());
  icon_->setToolTip("Quorvel");
  icon_->setContextMenu(menu_.get());
  QObject::connect(icon_.get(), &QSystemTrayIcon::activated, menu_.get(),
                   [this](QSystemTrayIcon::ActivationReason reason) { iconActivated(static_cast<int>(reason)); });
  if (!QSystemTrayIcon::isSystemTrayAvailable()) {
    logger_.notice("This desktop has no system tray, so the tray icon stays hidden. Start Quorvel again to "
                   "open its settings.");
  }
  icon_->show();
}

QtStatusItem::~QtStatusItem() {
  icon_->hide();
  icon_->setContextMenu(nullptr);
}

void QtStatusItem::showMessage(const std::string& title, const std::string& text) {
  icon_->showMessage(QString::fromStdString(title), QString::fromStdString(text), QSystemTrayIcon::Warning);
}

void QtStatusItem::withdrawMessage() {
  // The toolkit's balloon is a top-level tooltip window of its own, the only one of its kind; it
  // offers no call to take it away.
  for (QWidget* window : QApplication::topLevelWidgets()) {
    if (window->isVisible() && window->inherits("QBalloonTip")) window->close();
  }
}

void QtStatusItem::iconActivated(int reason) {
  if (reason != QSystemTrayIcon::Trigger || menu_->isVisible()) return;
  menu_->popup(QCursor::pos());
}

bool QtStatusItem::isShown() const { return icon_->isVisible() && QSystemTrayIcon::isSystemTrayAvailable(); }

}  // namespace quorvel
