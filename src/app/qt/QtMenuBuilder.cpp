#include "app/qt/QtMenuBuilder.h"

#include <QAction>
#include <QMenu>

namespace quorvel {

QKeySequence QtMenuBuilder::keySequence(const MenuItem& item) {
  if (item.key.empty()) return {};
  QString text;
  if ((item.modifiers & MenuModifiers::command) != 0) text += "Ctrl+";
  const bool shifted = (item.modifiers & MenuModifiers::commandShift) == MenuModifiers::commandShift;
  QString key = QString::fromStdString(item.key);
  // An upper-case key equivalent implies Shift.
  if (shifted || (key.size() == 1 && key[0].isUpper())) text += "Shift+";
  text += key.toUpper();
  return QKeySequence(text);
}

void QtMenuBuilder::fill(QMenu& menu, const Menu& model, const AppShell::MenuHandler& handler) {
  for (const MenuItem& item : model.items) {
    if (item.isSeparator) {
      menu.addSeparator();
      continue;
    }
    QAction* action = menu.addAction(QString::fromStdString(item.title));
    action->setEnabled(item.enabled && item.action != MenuAction::none);
    action->setShortcut(keySequence(item));
    if (item.action != MenuAction::none && handler) {
      const MenuAction what = item.action;
      QObject::connect(action, &QAction::triggered, &menu, [handler, what] { handler(what); });
    }
  }
}

}  // namespace quorvel
