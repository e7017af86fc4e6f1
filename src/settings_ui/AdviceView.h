#pragma once

#include <QPalette>
#include <QString>
#include <QWidget>

#include <memory>
#include <vector>

#include "app/ShortcutAdvice.h"
#include "settings_ui/CopyFeedback.h"

class QLabel;
class QPushButton;
class QVBoxLayout;

namespace quorvel {

// Advice as the user reads and copies it: its sentences wrap to the width the view is given, and
// each command stands apart as a paragraph of its own, in a fixed-width font on the ground of a text
// field, with a Copy button beside it that says "Copied" for a moment once it has. A command wider
// than the view wraps softly between its words and stays one line of text: a triple-click selects
// it whole, and Copy puts it whole on the clipboard. Lines of a file (to take out of it) stand apart
// the same way, as the text of that file, marked by a rule at their side and without a Copy
// button: they are not to be run. The view's height follows its width, so a change of width (a
// longer sentence elsewhere in the form) never cuts its first or last lines off.
class AdviceView final : public QWidget {
 public:
  // `main`: the executor whose clock times the Copy buttons' "Copied".
  explicit AdviceView(Executor& main, QWidget* parent = nullptr);
  ~AdviceView() override;

  void setAdvice(const AdviceText& advice);
  const AdviceText& advice() const { return advice_; }
  // The advice as one text, each command on a line of its own.
  QString text() const { return QString::fromStdString(advice_.plain()); }
  // The colour role of the sentences (the window's text colour unless set).
  void setProseRole(QPalette::ColorRole role);
  // The labels showing the commands, and their Copy buttons, in order.
  std::vector<QLabel*> commandLabels() const;
  std::vector<QPushButton*> copyButtons() const;
  // The labels showing lines of a file, in order.
  std::vector<QLabel*> fileLabels() const;
  // A row of one command with its Copy button, in the look of the advice's: for a command that a
  // page shows on its own.
  static QWidget* commandRow(const QString& command, const QFont& font, Executor& main, QWidget* parent = nullptr);

  bool hasHeightForWidth() const override { return true; }
  int heightForWidth(int width) const override;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void rebuild();
  void fitHeight();

  Executor& main_;
  AdviceText advice_;
  QPalette::ColorRole proseRole_ = QPalette::WindowText;
  QVBoxLayout* layout_;
};

}  // namespace quorvel
