#pragma once

#include <QString>
#include <QWidget>

#include <functional>

class QPushButton;
class QScrollArea;
class QStackedWidget;

namespace quorvel {

// The right side of the settings window: the pane, and the sub-screens a pane's rows open on top
// of it. A sub-screen has a back button that returns to what was under it; choosing another pane
// replaces the whole stack.
class SettingsNavigator final : public QWidget {
 public:
  explicit SettingsNavigator(QWidget* parent = nullptr);

  // Replaces everything with `root` (takes it).
  void setRoot(QWidget* root);
  // Shows `screen` (taken) on top, titled `title`.
  void push(QWidget* screen, const QString& title);
  // Back to the screen under the top one; nothing at the root.
  void pop();
  int depth() const;
  QWidget* top() const;
  QWidget* root() const;
  // Runs after each pop, with the screen now on top (a pane counts its lists again).
  void onReturn(std::function<void(QWidget*)> hook) { onReturn_ = std::move(hook); }

 private:
  QWidget* wrap(QWidget* content, const QString& title, bool withBack);

  QStackedWidget* stack_;
  std::function<void(QWidget*)> onReturn_;
};

}  // namespace quorvel
