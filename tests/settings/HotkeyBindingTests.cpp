#include <gtest/gtest.h>

#include <cstdlib>
#include <map>

#include "base/DefaultsStore.h"
#include "platform/KeyboardLayout.h"
#include "settings/AppSettings.h"
#include "settings/KeyNames.h"

namespace quorvel {
namespace {

using Value = AppSettings::Value;
using Kind = HotkeyBinding::Problem::Kind;
using Role = HotkeyBinding::Role;
using K = AppSettings::Key;

constexpr int64_t kControl = HotkeyBinding::controlFlag;
constexpr int64_t kOption = HotkeyBinding::optionFlag;
constexpr int64_t kCommand = HotkeyBinding::commandFlag;
constexpr int64_t kShift = HotkeyBinding::shiftFlag;

// A layout with a few keys, as a desktop's layout would answer them.
class TableLayout : public KeyboardLayout {
 public:
  std::map<uint16_t, std::string> keys;
  std::optional<std::string> characters(uint16_t keyCode) const override {
    auto found = keys.find(keyCode);
    if (found == keys.end()) return std::nullopt;
    return found->second;
  }
};

std::optional<Kind> kindOf(int64_t keyCode, int64_t flags, Role role) {
  auto problem = HotkeyBinding::problemFor(keyCode, flags, role);
  return problem ? std::optional<Kind>(problem->kind) : std::nullopt;
}

TEST(HotkeyBindingCheckTest, SummonShortcutNeedsAModifierAndIsNeverSuperTab) {
  EXPECT_EQ(kindOf(48, kShift, Role::summon), Kind::needsModifier);
  EXPECT_EQ(kindOf(48, 0, Role::summon), Kind::needsModifier);
  EXPECT_EQ(kindOf(48, kCommand, Role::summon), Kind::commandTab);
  EXPECT_EQ(kindOf(48, kCommand | kShift, Role::summon), Kind::commandTab);
  EXPECT_EQ(kindOf(48, kCommand | kOption, Role::summon), std::nullopt);
  EXPECT_EQ(kindOf(49, kCommand, Role::summon), std::nullopt);
  EXPECT_EQ(kindOf(36, kControl, Role::summon), std::nullopt);  // in-switcher keys are fine with a modifier
}

TEST(HotkeyBindingCheckTest, CancelKeyRules) {
  EXPECT_EQ(kindOf(53, 0, Role::cancel), Kind::escapeKey);
  EXPECT_EQ(kindOf(53, kCommand | kOption, Role::cancel), Kind::escapeKey);
  const auto returnAlone = HotkeyBinding::problemFor(36, 0, Role::cancel);
  ASSERT_TRUE(returnAlone);
  EXPECT_EQ(returnAlone->kind, Kind::clash);
  EXPECT_EQ(returnAlone->phrase, "switches to the selected window");
  EXPECT_EQ(kindOf(36, kControl, Role::cancel), std::nullopt);
  EXPECT_EQ(kindOf(96, 0, Role::cancel), std::nullopt);            // F5
  EXPECT_EQ(kindOf(96, kShift, Role::cancel), std::nullopt);       // Shift does not count
  EXPECT_EQ(kindOf(12, 0, Role::cancel), Kind::blocksTyping);      // Q
  EXPECT_EQ(kindOf(12, kShift, Role::cancel), Kind::blocksTyping);
  EXPECT_EQ(kindOf(117, 0, Role::cancel), std::nullopt);           // Forward Delete
}

TEST(HotkeyBindingCheckTest, MessagesReadWordForWord) {
  EXPECT_EQ(HotkeyBinding::problemFor(48, kShift, Role::summon)->message(),
            "A shortcut needs Ctrl, Alt or Super in it. Shift on its own is not enough: Shift is "
            "what steps backward.");
  EXPECT_EQ(HotkeyBinding::problemFor(48, kCommand, Role::summon)->message(),
            "Your desktop keeps Super+Tab for its own switcher, so it cannot be used here. Add Alt or "
            "Ctrl to it, or pick another key.");
  EXPECT_EQ(HotkeyBinding::problemFor(53, 0, Role::cancel)->message(),
            "Esc already closes the switcher, so it does not need to be set here. Pick a different key.");
  EXPECT_EQ(HotkeyBinding::problemFor(12, 0, Role::cancel)->message(),
            "On its own that key would get in the way of typing to search. Hold Ctrl, Alt or Super "
            "with it, or pick a key like F5.");
  EXPECT_EQ(HotkeyBinding::problemFor(49, 0, Role::cancel)->message(),
            "While the switcher is open, that key starts searching your windows. Pick another key, or "
            "hold Ctrl, Alt or Super with it.");
  EXPECT_EQ(HotkeyBinding::problemFor(51, 0, Role::cancel)->message(),
            "While the switcher is open, that key deletes a letter while you are searching. Pick "
            "another key, or hold Ctrl, Alt or Super with it.");
}

TEST(HotkeyBindingStoredTest, StoredSummonIsRecheckedWhenRead) {
  EXPECT_EQ(HotkeyBinding::fromStoredSummon({{"keyCode", 48}, {"flags", 131072}}), std::nullopt);
  EXPECT_EQ(HotkeyBinding::fromStoredSummon({{"keyCode", 48}, {"flags", 1179648}}),
            (HotkeyBinding{48, kCommand}));
  EXPECT_EQ(HotkeyBinding::fromStoredSummon({{"keyCode", 49}, {"flags", kOption | 0x100}}),
            (HotkeyBinding{49, kOption}));
  EXPECT_EQ(HotkeyBinding::fromStoredSummon({{"keyCode", 49}, {"flags", 524288.0}}),
            (HotkeyBinding{49, kOption}));
  EXPECT_EQ(HotkeyBinding::fromStoredSummon({{"keyCode", 49.5}, {"flags", kOption}}), std::nullopt);
  EXPECT_EQ(HotkeyBinding::fromStoredSummon({{"keyCode", "49"}, {"flags", kOption}}), std::nullopt);
  EXPECT_EQ(HotkeyBinding::fromStoredSummon({{"keyCode", 49}}), std::nullopt);
  EXPECT_EQ(HotkeyBinding::fromStoredSummon({{"keyCode", true}, {"flags", kOption}}), std::nullopt);
  EXPECT_EQ(HotkeyBinding::fromStoredSummon(Value::object()), std::nullopt);
  EXPECT_EQ(HotkeyBinding::fromStoredSummon(Value::array({48, kOption})), std::nullopt);
}

TEST(HotkeyBindingStoredTest, StoredCancelIsRecheckedWhenRead) {
  EXPECT_EQ(HotkeyBinding::fromStoredCancel({{"keyCode", 96}, {"flags", 131072}}), (HotkeyBinding{96, 0}));
  EXPECT_EQ(HotkeyBinding::fromStoredCancel({{"keyCode", 53}, {"flags", kCommand}}), std::nullopt);
  EXPECT_EQ(HotkeyBinding::fromStoredCancel({{"keyCode", 36}, {"flags", 0}}), std::nullopt);
  EXPECT_EQ(HotkeyBinding::fromStoredCancel({{"keyCode", 36}, {"flags", kControl}}),
            (HotkeyBinding{36, kControl}));
  EXPECT_EQ(HotkeyBinding::fromStoredCancel({{"keyCode", 12}, {"flags", 0}}), std::nullopt);
  EXPECT_EQ(HotkeyBinding::fromStoredCancel({{"flags", 0}}), std::nullopt);
}

TEST(HotkeyBindingStoredTest, WritersStoreTheDictionaryAndClearAsEmpty) {
  DefaultsStore store;
  AppSettings settings(store);
  settings.registerDefaults();
  settings.setHotkeyBinding(HotkeyBinding{49, kOption}, HotkeySlot::second);
  EXPECT_EQ(store.storedObject(K::hotkeyBinding2), (Value{{"keyCode", 49}, {"flags", 524288}}));
  EXPECT_EQ(settings.hotkeyBinding(HotkeySlot::second), (HotkeyBinding{49, kOption}));
  settings.setHotkeyBinding(std::nullopt, HotkeySlot::first);
  EXPECT_EQ(store.storedObject(K::hotkeyBinding1), Value::object());
  EXPECT_EQ(settings.hotkeyBinding(HotkeySlot::first), std::nullopt);
  settings.setCancelBinding(HotkeyBinding{96, 0});
  EXPECT_EQ(settings.cancelBinding(), (HotkeyBinding{96, 0}));
  settings.setCancelBinding(std::nullopt);
  EXPECT_EQ(store.storedObject(K::cancelBinding), Value::object());
  EXPECT_EQ(settings.cancelBinding(), std::nullopt);
}

TEST(HotkeyBindingStoredTest, KeyAboveTabStepsBackwardWithATabShortcut) {
  DefaultsStore store;
  AppSettings settings(store);
  settings.registerDefaults();
  EXPECT_TRUE(settings.aboveTabStepsBackward());  // Alt+Tab by default
  store.set(K::hotkeyBinding1, Value{{"keyCode", 49}, {"flags", kOption}});
  store.set(K::hotkeyBinding2, Value{{"keyCode", 48}, {"flags", kControl}});
  EXPECT_TRUE(settings.aboveTabStepsBackward());
  store.set(K::hotkeyBinding2, Value{{"keyCode", 48}, {"flags", kShift}});
  EXPECT_FALSE(settings.aboveTabStepsBackward());
  store.set(K::hotkeyBinding2, Value{{"keyCode", "48"}, {"flags", kControl}});
  EXPECT_FALSE(settings.aboveTabStepsBackward());
  store.set(K::hotkeyBinding1, Value{{"keyCode", 48}, {"flags", kCommand}});
  EXPECT_TRUE(settings.aboveTabStepsBackward());
  store.set(K::graveCyclesBackward, false);
  EXPECT_FALSE(settings.aboveTabStepsBackward());
  EXPECT_EQ(AppSettings::backwardKeyCodes(), (std::set<int64_t>{10, 50}));
  EXPECT_EQ(AppSettings::bareKeyCodes().size(), 26u);
  EXPECT_EQ(AppSettings::switcherKeyMeanings().size(), 9u);
}

TEST(HotkeyBindingDisplayTest, ModifierNamesInOrderThenKeyName) {
  TableLayout layout;
  layout.keys = {{0, "a"}, {50, "`"}};
  KeyNames names(layout);
  EXPECT_EQ((HotkeyBinding{48, kOption}).displayString(names), "Alt+Tab");
  EXPECT_EQ((HotkeyBinding{0, kCommand | kControl | kOption | kShift}).displayString(names),
            "Ctrl+Alt+Super+A");
  EXPECT_EQ((HotkeyBinding{96, 0}).displayString(names), "F5");
  EXPECT_EQ((HotkeyBinding{96, kShift}).displayString(names), "F5");
  EXPECT_EQ((HotkeyBinding{50, kControl}).displayString(names), "Ctrl+`");
}

TEST(KeyNamesTest, FixedTableComesBeforeTheLayout) {
  TableLayout layout;
  layout.keys = {{48, "x"}, {65, "y"}};
  KeyNames names(layout);
  EXPECT_EQ(KeyNames::table().size(), 53u);
  EXPECT_EQ(names.name(48), "Tab");
  EXPECT_EQ(names.name(65), "Numpad .");
  EXPECT_EQ(names.name(53), "Esc");
  EXPECT_EQ(names.name(90), "F20");
}

TEST(KeyNamesTest, LayoutCharacterIsUpperCasedWithoutBlanksOrControls) {
  TableLayout layout;
  layout.keys = {{0, "a"}, {12, "\u00df"}, {41, " \u00f6\t"}, {52, "\x03"}, {93, " "},
                 {94, "\u00a0\u0085"}, {95, ""}};
  KeyNames names(layout);
  EXPECT_EQ(names.name(0), "A");
  EXPECT_EQ(names.name(12), "SS");
  EXPECT_EQ(names.name(41), "\u00d6");
  EXPECT_EQ(names.name(52), "Key 52");
  EXPECT_EQ(names.name(93), "Key 93");
  EXPECT_EQ(names.name(94), "Key 94");
  EXPECT_EQ(names.name(95), "Key 95");
  EXPECT_EQ(names.name(7), "Key 7");  // nothing in the layout
}

TEST(KeyNamesTest, LayoutCharacterIsUpperCasedWhateverTheUsersLanguage) {
  // A Turkish locale upper-cases "i" as a dotted capital; the key's name stays "I".
  const char* saved = std::getenv("LC_ALL");
  const std::string previous = saved ? saved : "";
  ::setenv("LC_ALL", "tr_TR.UTF-8", 1);
  TableLayout layout;
  layout.keys = {{34, "i"}, {0, "a"}};
  KeyNames names(layout);
  const std::string name = names.name(34);
  const std::string other = names.name(0);
  if (saved) {
    ::setenv("LC_ALL", previous.c_str(), 1);
  } else {
    ::unsetenv("LC_ALL");
  }
  EXPECT_EQ(name, "I");
  EXPECT_EQ(other, "A");
}

TEST(KeyNamesTest, CodesOutsideTheLayoutsRangeSkipIt) {
  TableLayout layout;
  layout.keys = {{70000 & 0xFFFF, "q"}};
  KeyNames names(layout);
  EXPECT_EQ(names.layoutName(70000), std::nullopt);
  EXPECT_EQ(names.name(70000), "Key 70000");
  EXPECT_EQ(names.name(-1), "Key -1");
  EXPECT_EQ(names.name(70000 & 0xFFFF), "Q");
}

}  // namespace
}  // namespace quorvel
