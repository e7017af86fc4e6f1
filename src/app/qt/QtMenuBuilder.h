#pragma once

#include <QKeySequence>

#include "app/AppShell.h"
#include "app/MenuModel.h"

class QMenu;

namespace quorvel {

// Fills Qt menus from the program's menu models: one action per item (a separator for a separator
// item), with its title, key equivalent (Command is the Control key here), enabled state and
// handler.
class QtMenuBuilder {
 public:
  static void fill(QMenu& menu, const Menu& model, const AppShell::MenuHandler& handler);
  static QKeySequence keySequence(const MenuItem& item);
};

}  // namespace quorvel
