#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>

#include "settings_ui/ShortcutRecorderModel.h"
#include "settings_ui/ShortcutRecorderRow.h"
#include "settings_ui/SettingsUiFixture.h"

namespace quorvel {
namespace {

using Role = HotkeyBinding::Role;
constexpr int64_t kCtrl = HotkeyBinding::controlFlag, kAlt = HotkeyBinding::optionFlag,
                  kSuper = HotkeyBinding::commandFlag, kShift = HotkeyBinding::shiftFlag;
constexpr int64_t kTab = 48, kEscape = 53, kF5 = 96, kQ = 12;

struct Press {
  int64_t key, flags;
};
struct RecorderCase {
  const char* name;
  Role role;
  std::vector<Press> presses;
  std::optional<HotkeyBinding> recorded;  // what onRecord received
  bool stillRecording;
  std::optional<std::string> message;
  // With `probes`, the combinations another program holds; without, none is asked about.
  bool probes = false;
  std::vector<HotkeyBinding> taken = {};
};

std::string advice(const HotkeyBinding& b) { return "taken " + std::to_string(b.keyCode) + "/" + std::to_string(b.requiredFlags); }

TEST(ShortcutRecorderModelTest, PressesAreAcceptedRefusedOrCancelled) {
  const std::vector<RecorderCase> cases = {
      {"Escape cancels", Role::summon, {{kEscape, 0}}, std::nullopt, false, std::nullopt},
      {"Shift-Escape cancels", Role::cancel, {{kEscape, kShift}}, std::nullopt, false, std::nullopt},
      {"Super-Escape is checked like any other", Role::summon, {{kEscape, kSuper}}, HotkeyBinding{kEscape, kSuper}, false,
       std::nullopt},
      {"no modifier is refused", Role::summon, {{kTab, kShift}}, std::nullopt, true,
       HotkeyBinding::problemFor(kTab, 0, Role::summon)->message()},
      {"Super-Tab is refused", Role::summon, {{kTab, kSuper}}, std::nullopt, true,
       HotkeyBinding::problemFor(kTab, kSuper, Role::summon)->message()},
      {"held elsewhere once Shift is dropped", Role::summon, {{kTab, kAlt | kShift}}, std::nullopt, true,
       ShortcutRecorderModel::kConflict},
      {"after a refusal the next one counts", Role::summon, {{kTab, 0}, {kTab, kCtrl}}, HotkeyBinding{kTab, kCtrl}, false,
       std::nullopt},
      {"Shift-Ctrl-Tab records Ctrl-Tab with a note", Role::summon, {{kTab, kCtrl | kShift}}, HotkeyBinding{kTab, kCtrl},
       false, ShortcutRecorderModel::kShiftSummon},
      {"Shift-F5 closes with F5 and a note", Role::cancel, {{kF5, kShift}}, HotkeyBinding{kF5, 0}, false,
       ShortcutRecorderModel::kShiftCancel},
      {"a letter alone would block typing", Role::cancel, {{kQ, 0}}, std::nullopt, true,
       HotkeyBinding::problemFor(kQ, 0, Role::cancel)->message()},
      // Where another program's hold can be asked about, it decides, Super+Tab included.
      {"Super-Tab left free is taken", Role::summon, {{kTab, kSuper}}, HotkeyBinding{kTab, kSuper}, false, std::nullopt,
       true},
      {"Super-Tab held is refused with the advice", Role::summon, {{kTab, kSuper}}, std::nullopt, true,
       advice({kTab, kSuper}), true, {{kTab, kSuper}}},
      {"a held combination is refused with the advice, then a free one counts", Role::summon,
       {{kTab, kCtrl | kShift}, {kTab, kCtrl | kAlt}}, HotkeyBinding{kTab, kCtrl | kAlt}, false, std::nullopt, true,
       {{kTab, kCtrl}}},
      {"a conflict on the pane is said before the hold", Role::summon, {{kTab, kAlt}}, std::nullopt, true,
       ShortcutRecorderModel::kConflict, true, {{kTab, kAlt}}},
  };
  for (const RecorderCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<bool> suspended;
    ShortcutRecorderModel model([&](bool on) { suspended.push_back(on); });
    if (c.probes) {
      model.takenAdvice = [&c](const HotkeyBinding& b) -> std::optional<AdviceText> {
        if (std::find(c.taken.begin(), c.taken.end(), b) == c.taken.end()) return std::nullopt;
        return advice(b);
      };
    }
    std::optional<HotkeyBinding> recorded;
    model.toggle(c.role, {HotkeyBinding{kTab, kAlt}}, [&](const HotkeyBinding& b) { recorded = b; });
    for (const Press& p : c.presses) EXPECT_TRUE(model.handleKeyDown(p.key, p.flags));
    EXPECT_EQ(recorded, c.recorded);
    EXPECT_EQ(model.isRecording(), c.stillRecording);
    EXPECT_EQ(model.message(), c.message);
    const std::vector<bool> expected = c.stillRecording ? std::vector<bool>{true} : std::vector<bool>{true, false};
    EXPECT_EQ(suspended, expected);
  }
}

TEST(ShortcutRecorderModelTest, OneRecorderAtATime) {
  std::vector<bool> suspended;
  ShortcutRecorderModel first([&](bool on) { suspended.push_back(on); });
  ShortcutRecorderModel second([&](bool on) { suspended.push_back(on); });
  first.toggle(Role::summon, {}, nullptr);
  first.handleKeyDown(kTab, 0);  // a refusal leaves a sentence
  second.toggle(Role::summon, {}, nullptr);
  EXPECT_FALSE(first.isRecording());
  EXPECT_FALSE(first.message());
  EXPECT_EQ(ShortcutRecorderModel::active(), &second);
  second.toggle(Role::summon, {}, nullptr);  // a second click ends it unchanged
  EXPECT_EQ(ShortcutRecorderModel::active(), nullptr);
  EXPECT_EQ(suspended, (std::vector<bool>{true, false, true, false}));
  EXPECT_FALSE(first.handleKeyDown(kTab, kAlt));  // not recording: the key is not taken
}

class ShortcutRecorderRowTest : public SettingsUiTest {};

TEST_F(ShortcutRecorderRowTest, KeyPressesAnywhereReachTheRecordingRowModifiersAloneDoNot) {
  ShortcutRecorderRow row({Role::summon, true, "Record a shortcut", "Type your new shortcut"}, names,
                          [](uint32_t native) -> std::optional<int64_t> { return native == 23 ? 48 : 40; },
                          services.suspendShortcuts, loop.main());
  std::optional<HotkeyBinding> recorded;
  row.onRecord = [&](const HotkeyBinding& b) {
    recorded = b;
    row.setBinding(b);
  };
  QWidget elsewhere;
  EXPECT_FALSE(row.removeButton()->isEnabled());
  EXPECT_EQ(row.recordButton()->text(), "Record a shortcut");
  row.recordButton()->click();
  EXPECT_EQ(row.recordButton()->text(), "Type your new shortcut");
  QKeyEvent alt(QEvent::KeyPress, Qt::Key_Alt, Qt::AltModifier, 64, 0, 0);
  QApplication::sendEvent(&elsewhere, &alt);
  EXPECT_TRUE(row.model().isRecording());
  QKeyEvent altTab(QEvent::KeyPress, Qt::Key_Tab, Qt::AltModifier, 23, 0, 0);  // X key code 23: Tab
  QApplication::sendEvent(&elsewhere, &altTab);
  EXPECT_EQ(recorded, (HotkeyBinding{48, kAlt}));
  EXPECT_EQ(row.recordButton()->text(), "Alt+Tab");
  EXPECT_EQ(suspensions, (std::vector<bool>{true, false}));
  EXPECT_TRUE(row.removeButton()->isEnabled());
  bool cleared = false;
  row.onClear = [&] { cleared = true; };
  row.recordButton()->click();
  row.removeButton()->click();  // stops the recording before the shortcut goes
  EXPECT_TRUE(cleared);
  EXPECT_FALSE(row.model().isRecording());
  EXPECT_EQ(suspensions, (std::vector<bool>{true, false, true, false}));
}

// The window manager may give the settings window the keyboard only after the click that started a
// recording: that keeps the recording on, and another window taking the keyboard ends it.
TEST_F(ShortcutRecorderRowTest, OnlyAWindowGivingUpTheKeyboardEndsARecording) {
  QWidget window, other;
  auto* row = new ShortcutRecorderRow({Role::summon, true, "Record a shortcut", "Type your new shortcut"}, names,
                                      nullptr, services.suspendShortcuts, loop.main(), &window);
  ASSERT_EQ(QGuiApplication::focusWindow(), nullptr);
  row->recordButton()->click();
  window.show();
  QApplication::processEvents();
  ASSERT_EQ(QGuiApplication::focusWindow(), window.windowHandle());
  EXPECT_TRUE(row->model().isRecording());
  other.show();
  QApplication::processEvents();
  ASSERT_EQ(QGuiApplication::focusWindow(), other.windowHandle());
  EXPECT_FALSE(row->model().isRecording());
}

}  // namespace
}  // namespace quorvel
