#pragma once

#include <QString>

class QWidget;

namespace quorvel {

// Small pieces the panes share beyond the grouped form: a control between two end marks, and a
// disclosure (a title that opens and closes the explaining text under it, closed at first).
class PaneKit {
 public:
  static QWidget* withEnds(QWidget* control, const QString& least, const QString& greatest);
  static QWidget* disclosure(const QString& title, const QString& text);
};

}  // namespace quorvel
