#pragma once

#include <QWidget>

#include <optional>
#include <string>
#include <vector>

#include "app/QuickFlipKey.h"
#include "base/Subscription.h"
#include "settings/HotkeyBinding.h"
#include "settings_ui/SettingsWindowServices.h"

class QLabel;
class QPushButton;
class QWidget;

namespace quorvel {

class AdviceView;
class BoundControls;
class SettingsBindings;
class SettingsNavigator;
class ShortcutRecorderRow;

// The Shortcuts pane: the two summon shortcuts and what each shows, the swipe and the screen the
// switcher opens on, what holding the shortcut does, one more key that closes the switcher, the
// vim keys and the backtick flip, the key reference and the applications that keep the shortcut.
// The shortcuts are copies of the store, read again on every change of it; the advice on shortcut
// keys another program holds follows the keys changing hands. Main thread only.
class ShortcutsPane final : public QWidget {
 public:
  ShortcutsPane(SettingsBindings& bindings, const SettingsWindowServices& services, SettingsNavigator& navigator,
                QWidget* parent = nullptr);
  ~ShortcutsPane() override;

  enum class Row { first, second, cancel };
  ShortcutRecorderRow* recorder(Row row) const;
  const std::optional<HotkeyBinding>& shortcut(Row row) const;
  const std::vector<std::string>& passThroughApps() const { return passThrough_; }
  bool usesTabShortcut() const;
  // The key above Tab with a Tab shortcut's modifiers ("Alt+`") while it flips back to the last
  // window and another program holds it, with the advice on it; none otherwise.
  std::optional<QuickFlipKey::Held> flipKeyHeldElsewhere() const;
  // The advice under the keys while that key is held elsewhere (hidden otherwise): whose it is, how
  // to free it (commands with their Copy buttons, lines of a file), and what holding it costs.
  AdviceView* flipKeyNote() const { return flipKeyNote_; }
  QPushButton* passThroughRow() const { return passThroughRow_; }
  QPushButton* keyReferenceRow() const { return keyReferenceRow_; }

  // Reads the shortcuts and the pass-through list back from the store, replacing copies that differ.
  void reloadShortcuts();

 private:
  void storeShortcut(const std::optional<HotkeyBinding>& binding, HotkeySlot slot);
  void storeCancelKey(const std::optional<HotkeyBinding>& binding);
  void showCopies();
  void followValues();

  SettingsBindings& bindings_;
  const SettingsWindowServices& services_;
  SettingsNavigator& navigator_;
  BoundControls* controls_;
  std::optional<HotkeyBinding> shortcut1_, shortcut2_, cancel_;
  std::vector<std::string> passThrough_;
  ShortcutRecorderRow* rows_[3] = {};
  QWidget* scope2Row_ = nullptr;
  QWidget* scope2Label_ = nullptr;
  QWidget* directionRow_ = nullptr;
  QWidget* directionLabel_ = nullptr;
  QLabel* screenExplainer_ = nullptr;
  QLabel* behaviorExplainer_ = nullptr;
  QLabel* holdExplainer_ = nullptr;
  QWidget* graveToggle_ = nullptr;
  QLabel* keysFootnote_ = nullptr;
  AdviceView* flipKeyNote_ = nullptr;
  QWidget* flipKeyNoteHolder_ = nullptr;
  QPushButton* passThroughRow_ = nullptr;
  QPushButton* keyReferenceRow_ = nullptr;
  Subscription subscription_;
  Subscription ownersSubscription_;
};

}  // namespace quorvel
