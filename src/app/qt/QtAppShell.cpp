#include "app/qt/QtAppShell.h"

#include <QApplication>
#include <QMainWindow>
#include <QMenuBar>
#include <QMetaObject>
#include <QWidget>

#include "app/qt/QtMenuBuilder.h"
#include "app/qt/QtStatusItem.h"

namespace quorvel {

QtAppShell::QtAppShell(SettingsWindowServices settings) : settings_(std::move(settings)) {}

QtAppShell::~QtAppShell() = default;

void QtAppShell::installMainMenu(const std::vector<Menu>& menus, MenuHandler handler) {
  // X11 has no menu bar of the program's own: the main menu shows in the settings window.
  settings_.setMenuInstaller([menus, handler = std::move(handler)](QMainWindow& window) {
    QMenuBar* bar = window.menuBar();
    bar->clear();
    for (const Menu& menu : menus) {
      QMenu* qmenu = bar->addMenu(QString::fromStdString(menu.title));
      QtMenuBuilder::fill(*qmenu, menu, handler);
    }
  });
}

void QtAppShell::showStatusItem(const Menu& menu, MenuHandler handler, std::function<void()> willOpen) {
  statusItem_ = std::make_unique<QtStatusItem>(menu, handler, std::move(willOpen));
}

void QtAppShell::removeStatusItem() { statusItem_.reset(); }

void QtAppShell::showStatusMessage(const std::string& title, const std::string& text) {
  if (statusItem_) statusItem_->showMessage(title, text);
}

void QtAppShell::withdrawStatusMessage() {
  if (statusItem_) statusItem_->withdrawMessage();
}

void QtAppShell::showSettings(std::optional<SettingsPane> pane) {
  if (pane) settings_.select(*pane);
  settings_.show();
}

void QtAppShell::sendToFocusedWindow(MenuAction action) {
  QWidget* focus = QApplication::focusWidget();
  QWidget* window = QApplication::activeWindow();
  const char* slot = nullptr;
  switch (action) {
    case MenuAction::undo: slot = "undo"; break;
    case MenuAction::redo: slot = "redo"; break;
    case MenuAction::cut: slot = "cut"; break;
    case MenuAction::copy: slot = "copy"; break;
    case MenuAction::paste: slot = "paste"; break;
    case MenuAction::deleteSelection: slot = "del"; break;
    case MenuAction::selectAll: slot = "selectAll"; break;
    case MenuAction::performClose:
      if (window) window->close();
      return;
    case MenuAction::performMiniaturize:
      if (window) window->showMinimized();
      return;
    default:
      return;
  }
  // Text widgets answer these by name; a widget without the slot ignores the call.
  if (focus && focus->metaObject()->indexOfMethod(QMetaObject::normalizedSignature((std::string(slot) + "()").c_str())) >= 0) {
    QMetaObject::invokeMethod(focus, slot);
  }
}

void QtAppShell::quit() { QCoreApplication::quit(); }

}  // namespace quorvel
