#include "settings_ui/ShortcutsPane.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "settings/AppSettings.h"
#include "settings_ui/AdviceView.h"
#include "settings_ui/BoundControls.h"
#include "settings_ui/KeyReferenceScreen.h"
#include "settings_ui/PassThroughAppsScreen.h"
#include "settings_ui/SettingsBindings.h"
#include "settings_ui/SettingsForm.h"
#include "settings_ui/SettingsNavigator.h"
#include "settings_ui/ShortcutRecorderRow.h"

namespace quorvel {

namespace {

using K = AppSettings::Key;

std::optional<HotkeyBinding> readSummon(const SettingsBindings& bindings, const char* key) {
  return HotkeyBinding::fromStoredSummon(bindings.value(key));
}

std::vector<std::string> readList(const SettingsBindings& bindings, const char* key) {
  return bindings.settings().stringList(key).value_or(std::vector<std::string>{});
}

}  // namespace

ShortcutsPane::ShortcutsPane(SettingsBindings& bindings, const SettingsWindowServices& services,
                             SettingsNavigator& navigator, QWidget* parent)
    : QWidget(parent), bindings_(bindings), services_(services), navigator_(navigator),
      controls_(new BoundControls(bindings, this)) {
  shortcut1_ = readSummon(bindings_, K::hotkeyBinding1);
  shortcut2_ = readSummon(bindings_, K::hotkeyBinding2);
  cancel_ = HotkeyBinding::fromStoredCancel(bindings_.value(K::cancelBinding));
  passThrough_ = readList(bindings_, K::passThroughBundleIDs);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  auto* form = new SettingsForm;
  layout->addWidget(form);
  auto makeRow = [this](HotkeyBinding::Role role, bool clearable, const char* empty, const char* recording) {
    auto* row = new ShortcutRecorderRow({role, clearable, empty, recording}, services_.keyNames,
                                        services_.virtualKeyCode, services_.suspendShortcuts, services_.main);
    // A shortcut chosen here that another program holds is said here, with how to free it.
    if (services_.shortcutTaken) row->setTakenCheck(services_.shortcutTaken);
    return row;
  };
  const std::vector<QString> scopes = {"Every window", "Only the app you are in"};

  QFormLayout* shortcut = form->section("Shortcut");
  rows_[0] = makeRow(HotkeyBinding::Role::summon, false, "Record a shortcut", "Type your new shortcut");
  rows_[0]->setObjectName("shortcut1");
  rows_[0]->onRecord = [this](const HotkeyBinding& b) { storeShortcut(b, HotkeySlot::first); };
  shortcut->addRow("Keyboard shortcut", rows_[0]);
  shortcut->addRow("Shows", controls_->picker(K::hotkeyScope1, scopes));
  rows_[1] = makeRow(HotkeyBinding::Role::summon, true, "Record a shortcut", "Type your new shortcut");
  rows_[1]->setObjectName("shortcut2");
  rows_[1]->onRecord = [this](const HotkeyBinding& b) { storeShortcut(b, HotkeySlot::second); };
  rows_[1]->onClear = [this] { storeShortcut(std::nullopt, HotkeySlot::second); };
  shortcut->addRow("Second shortcut", rows_[1]);
  scope2Row_ = controls_->picker(K::hotkeyScope2, scopes);
  shortcut->addRow("Shows", scope2Row_);
  scope2Label_ = shortcut->labelForField(scope2Row_);
  form->footnote(
      "Click a shortcut and press the keys you want: Ctrl, Alt or Super must be in it. A second shortcut set to "
      "the app you are in steps through the windows of that app alone.");

  QFormLayout* other = form->section("Other ways to open it");
  other->addRow("Summon with a swipe", controls_->picker(K::summonGesture, {"Off", "Three fingers", "Four fingers"}));
  directionRow_ = controls_->picker(K::summonSwipeDirection, {"Up", "Sideways"});
  other->addRow("Swipe direction", directionRow_);
  directionLabel_ = other->labelForField(directionRow_);
  other->addRow("Open the switcher on",
                controls_->picker(K::summonScreen, {"Screen with the pointer", "Screen with the window you are in",
                                                    "Built-in screen"}));
  form->footnote(
      "Up opens the switcher and down closes it, sideways does both. If your desktop answers the same swipe "
      "itself, turn its gesture off in its touchpad settings.");
  screenExplainer_ = form->footnote({});

  QFormLayout* holding = form->section("Pressing and holding");
  holding->addRow("When you press it", controls_->picker(K::switcherBehavior, {"Hold to switch", "Stays open"}));
  holding->addRow("Holding the shortcut",
                  controls_->picker(K::holdStyle, {"Hold stays on current", "Like the usual Alt+Tab"}));
  behaviorExplainer_ = form->footnote({});
  holdExplainer_ = form->footnote({});

  QFormLayout* closing = form->section("Closing it");
  rows_[2] = makeRow(HotkeyBinding::Role::cancel, true, "Record a key", "Press the key you want");
  rows_[2]->setObjectName("cancel");
  rows_[2]->onRecord = [this](const HotkeyBinding& b) { storeCancelKey(b); };
  rows_[2]->onClear = [this] { storeCancelKey(std::nullopt); };
  closing->addRow("Also close with", rows_[2]);
  form->footnote("Esc always closes the switcher. This adds one more key that does too, for example F5.");

  QFormLayout* keys = form->section("Keys");
  keys->addRow(controls_->toggle(K::vimKeys, "Move with H, J, K and L"));
  graveToggle_ = controls_->toggle(K::graveCyclesBackward, "Backtick key flips to your last window");
  keys->addRow(graveToggle_);
  keyReferenceRow_ = SettingsForm::drillRow("The keys, at a glance");
  keyReferenceRow_->setObjectName("keyReference");
  QObject::connect(keyReferenceRow_, &QPushButton::clicked, this, [this] {
    navigator_.push(new KeyReferenceScreen(bindings_, services_.keyNames), "The keys, at a glance");
  });
  keys->addRow(keyReferenceRow_);
  keysFootnote_ = form->footnote({});
  // How to free the key above Tab, as the shortcut rows say it for theirs.
  flipKeyNote_ = new AdviceView(services_.main);
  flipKeyNote_->setObjectName("quickFlipNote");
  flipKeyNote_->setProseRole(QPalette::PlaceholderText);
  flipKeyNoteHolder_ = form->footnoteContent(flipKeyNote_);

  QFormLayout* apps = form->section({});
  passThroughRow_ = SettingsForm::drillRow("Apps that keep the shortcut");
  passThroughRow_->setObjectName("passThrough");
  QObject::connect(passThroughRow_, &QPushButton::clicked, this, [this] {
    navigator_.push(new PassThroughAppsScreen(bindings_, services_), "Apps that keep the shortcut");
  });
  apps->addRow(passThroughRow_);
  form->finish();

  controls_->onRefresh([this] { followValues(); });
  subscription_ = bindings_.observe([this] { reloadShortcuts(); });
  if (services_.observeShortcutOwners) {
    ownersSubscription_ = services_.observeShortcutOwners([this] {
      for (ShortcutRecorderRow* row : rows_) row->refreshTaken();
      followValues();  // the key above Tab changes hands too
    });
  }
  showCopies();
}

ShortcutsPane::~ShortcutsPane() = default;

ShortcutRecorderRow* ShortcutsPane::recorder(Row row) const { return rows_[static_cast<int>(row)]; }

const std::optional<HotkeyBinding>& ShortcutsPane::shortcut(Row row) const {
  return row == Row::first ? shortcut1_ : row == Row::second ? shortcut2_ : cancel_;
}

bool ShortcutsPane::usesTabShortcut() const {
  return (shortcut1_ && shortcut1_->keyCode == HotkeyBinding::tabKeyCode) ||
         (shortcut2_ && shortcut2_->keyCode == HotkeyBinding::tabKeyCode);
}

void ShortcutsPane::storeShortcut(const std::optional<HotkeyBinding>& binding, HotkeySlot slot) {
  bindings_.settings().setHotkeyBinding(binding, slot);
  shortcut1_ = readSummon(bindings_, K::hotkeyBinding1);
  shortcut2_ = readSummon(bindings_, K::hotkeyBinding2);
  showCopies();
}

void ShortcutsPane::storeCancelKey(const std::optional<HotkeyBinding>& binding) {
  bindings_.settings().setCancelBinding(binding);
  cancel_ = HotkeyBinding::fromStoredCancel(bindings_.value(K::cancelBinding));
  showCopies();
}

void ShortcutsPane::reloadShortcuts() {
  const auto first = readSummon(bindings_, K::hotkeyBinding1);
  const auto second = readSummon(bindings_, K::hotkeyBinding2);
  const auto cancel = HotkeyBinding::fromStoredCancel(bindings_.value(K::cancelBinding));
  auto list = readList(bindings_, K::passThroughBundleIDs);
  bool changed = false;
  if (first != shortcut1_ || second != shortcut2_) {
    shortcut1_ = first;
    shortcut2_ = second;
    changed = true;
  }
  if (cancel != cancel_) {
    cancel_ = cancel;
    changed = true;
  }
  if (list != passThrough_) {
    passThrough_ = std::move(list);
    changed = true;
  }
  if (changed) showCopies();
}

void ShortcutsPane::showCopies() {
  rows_[0]->setBinding(shortcut1_);
  rows_[0]->setConflicts({shortcut2_, cancel_});
  rows_[1]->setBinding(shortcut2_);
  rows_[1]->setConflicts({shortcut1_, cancel_});
  rows_[2]->setBinding(cancel_);
  rows_[2]->setConflicts({shortcut1_, shortcut2_});
  SettingsForm::setDrillValue(passThroughRow_, SettingsForm::countText(passThrough_.size(), "None"));
  followValues();
}

void ShortcutsPane::followValues() {
  scope2Row_->setVisible(shortcut2_.has_value());
  if (scope2Label_) scope2Label_->setVisible(shortcut2_.has_value());
  const bool swipe = bindings_.text(K::summonGesture) != "off";
  directionRow_->setVisible(swipe);
  if (directionLabel_) directionLabel_->setVisible(swipe);

  const std::string screen = bindings_.text(K::summonScreen);
  screenExplainer_->setText(
      screen == "builtInScreen"
          ? "The switcher always opens on your computer's built-in screen. If it has none, or its lid is closed, "
            "it opens on the screen with the pointer."
      : screen == "activeWindowScreen"
          ? "The switcher opens on the screen holding the window you were just working in. If there is no window "
            "to go by, it opens on the screen with the pointer."
          : "The switcher opens on the screen your pointer is on.");
  behaviorExplainer_->setText(
      bindings_.text(K::switcherBehavior) == "toggle"
          ? "The switcher stays up after you let go. Click a window or press Return to switch to it, or press Esc "
            "to close it."
          : "The switcher is up only while you hold the shortcut down. Let go of the key to switch. A quick tap "
            "jumps to the window you used before.");
  holdExplainer_->setText(
      bindings_.text(K::holdStyle) == "cmdTab"
          ? "The moment you press the shortcut the last window is already selected, just like the usual Alt+Tab "
            "switcher. Holding keeps it there. Tap the key to move forward, add Shift to move back. Let go to "
            "switch to the selected window."
          : "A quick tap flips to your last window. If you keep holding the shortcut, the switcher stays on the "
            "window you are in, and each extra tap of the key moves forward from there. So holding and letting go "
            "without tapping again keeps you where you are.");
  const bool tab = usesTabShortcut();
  graveToggle_->setVisible(tab);
  QString keys = QString("H and L go left and right, J and K go down and up.") +
                 (tab ? " Inside the switcher the same key steps backward." : "");
  keysFootnote_->setText(keys);
  std::optional<QuickFlipKey::Held> held = flipKeyHeldElsewhere();
  if (held) {
    held->advice.say("Until " + held->keys.displayString(services_.keyNames) +
                     " is free, it does not flip outside the switcher.");
    flipKeyNote_->setAdvice(held->advice);
  }
  flipKeyNoteHolder_->setVisible(held.has_value());
}

std::optional<QuickFlipKey::Held> ShortcutsPane::flipKeyHeldElsewhere() const {
  if (!bindings_.settings().boolValue(K::graveCyclesBackward)) return std::nullopt;
  return QuickFlipKey::heldElsewhere({shortcut1_, shortcut2_}, services_.shortcutTaken);
}

}  // namespace quorvel
