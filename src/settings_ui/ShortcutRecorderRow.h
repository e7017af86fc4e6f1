#pragma once

#include <QObject>
#include <QPointer>
#include <QWindow>
#include <QString>
#include <QWidget>

#include <functional>
#include <optional>
#include <vector>

#include "app/ShortcutAdvice.h"
#include "settings/HotkeyBinding.h"
#include "settings_ui/ShortcutRecorderModel.h"

class QPushButton;
class QToolButton;

namespace quorvel {

class AdviceView;
class Executor;
class KeyNames;

// A settings row that records a shortcut: a button showing the shortcut (a click starts recording,
// a second click stops), an optional remove button, and the recorder's sentence under them. While
// it records, the row's window holds the keyboard, so that a combination the window manager binds
// (Alt+Tab) reaches the recorder instead of switching windows; key presses anywhere in the program go
// to the recorder (Tab and Escape included), and the recording stops when the program's window
// loses the keyboard or the row goes away.
class ShortcutRecorderRow final : public QWidget {
 public:
  struct Config {
    HotkeyBinding::Role role = HotkeyBinding::Role::summon;
    bool clearable = false;
    QString emptyLabel;
    QString recordingLabel;
  };
  // The virtual key code of a native key code; none for a key the program does not know.
  using KeyTranslator = std::function<std::optional<int64_t>(uint32_t nativeKeyCode)>;

  // `main`: the executor whose clock times the advice's Copy buttons.
  ShortcutRecorderRow(Config config, const KeyNames& names, KeyTranslator translate, ShortcutRecorderModel::Suspend suspend,
                      Executor& main, QWidget* parent = nullptr);
  ~ShortcutRecorderRow() override;

  // The shortcut shown and the other rows' shortcuts (unset ones are skipped).
  void setBinding(const std::optional<HotkeyBinding>& binding);
  void setConflicts(std::vector<std::optional<HotkeyBinding>> conflicts) { conflicts_ = std::move(conflicts); }
  std::function<void(const HotkeyBinding&)> onRecord;
  std::function<void()> onClear;
  // Runs after the sentence under the row changed.
  std::function<void()> onMessageChange;
  // Asks whether another program holds a combination (the sentence that says so and how to free it,
  // none while free): a combination pressed while recording, and the shortcut the row shows, whose
  // sentence stands under the row for as long as it is held.
  using TakenCheck = std::function<std::optional<AdviceText>(const HotkeyBinding&)>;
  // `noteUnderRow` false: only a recorded combination is checked (the page says the rest itself).
  void setTakenCheck(TakenCheck check, bool noteUnderRow = true);
  // Asks again about the shortcut shown (its keys may have changed hands).
  void refreshTaken();
  const std::optional<AdviceText>& takenNote() const { return taken_; }

  ShortcutRecorderModel& model() { return model_; }
  QPushButton* recordButton() const { return record_; }
  QToolButton* removeButton() const { return remove_; }
  AdviceView* messageView() const { return message_; }

  // The flag bits of HotkeyBinding for the toolkit's modifiers (Ctrl, Alt, Super, Shift).
  static int64_t flagsOf(Qt::KeyboardModifiers modifiers);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  // A row that leaves the screen (another pane or a sub-screen in its place) stops recording.
  void hideEvent(QHideEvent* event) override;

 private:
  void update();
  void startOrStop();

  Config config_;
  const KeyNames& names_;
  KeyTranslator translate_;
  ShortcutRecorderModel model_;
  std::optional<HotkeyBinding> binding_;
  std::vector<std::optional<HotkeyBinding>> conflicts_;
  QPushButton* record_;
  QToolButton* remove_ = nullptr;
  AdviceView* message_;
  bool filtering_ = false;
  TakenCheck takenCheck_;
  std::optional<AdviceText> taken_;
  QPointer<QWindow> grabbed_;
  QPointer<QWindow> keyWindow_;  // the program's window that has the keyboard, if any
};

}  // namespace quorvel
