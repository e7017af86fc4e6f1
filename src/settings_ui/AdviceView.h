#pragma once

#include <QFontMetrics>
#include <QPalette>
#include <QString>
#include <QWidget>

#include <vector>

#include "app/ShortcutAdvice.h"

class QLabel;
class QVBoxLayout;

namespace quorvel {

// Advice as the user reads and copies it: its sentences wrap to the width the view is given, and
// each command stands apart on lines of its own, in a fixed-width font on the ground of a text
// field, selectable with the mouse and the keyboard. A command wider than the view is folded the
// way a shell takes it, between its words with a backslash at the end of the line, so that it is
// never broken inside a word (at a hyphen) and still runs as it is when copied. The view's height
// follows its width, so a change of width (a longer sentence elsewhere in the form) never cuts its
// first or last lines off.
class AdviceView final : public QWidget {
 public:
  explicit AdviceView(QWidget* parent = nullptr);

  void setAdvice(const AdviceText& advice);
  const AdviceText& advice() const { return advice_; }
  // The advice as one text, each command on a line of its own.
  QString text() const { return QString::fromStdString(advice_.plain()); }
  // The colour role of the sentences (the window's text colour unless set).
  void setProseRole(QPalette::ColorRole role);
  // The labels showing the commands, in order.
  std::vector<QLabel*> commandLabels() const;
  // `command` as a shell takes it, folded between words (never inside quotes) into lines of at most
  // `width` pixels where it can be; the text unchanged when it fits.
  static QString folded(const QString& command, const QFontMetrics& metrics, int width);

  bool hasHeightForWidth() const override { return true; }
  int heightForWidth(int width) const override;

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void rebuild();
  void fitHeight();
  QFont commandFont() const;
  // The command labels' width at the view's `width`, and their height at that width.
  static int commandWidth(int width) { return width - 2 * kCommandMargin; }
  int commandHeight(const QString& command, int width) const;

  static constexpr int kCommandMargin = 8;

  AdviceText advice_;
  QPalette::ColorRole proseRole_ = QPalette::WindowText;
  QVBoxLayout* layout_;
};

}  // namespace quorvel
