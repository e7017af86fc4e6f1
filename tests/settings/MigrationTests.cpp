#include <gtest/gtest.h>

#include "base/DefaultsStore.h"
#include "settings/AppSettings.h"
#include "settings/SettingsMigrations.h"

namespace quorvel {
namespace {

using Value = AppSettings::Value;
using K = AppSettings::Key;

class MigrationTest : public ::testing::Test {
 protected:
  // The launch sequence: the five migrations in order, then the registration.
  void launch() {
    SettingsMigrations(settings.store()).runAll();
    settings.registerDefaults();
  }

  DefaultsStore store;
  AppSettings settings{store};
};

TEST_F(MigrationTest, FreshStoreGetsOnlyTheRescaleGuard) {
  int changes = 0;
  const Subscription watching = store.addObserver([&] { ++changes; });
  launch();
  EXPECT_EQ(store.storedValues(), (std::map<std::string, Value>{{K::hasRescaledAnimationSpeed, true}}));
  EXPECT_EQ(changes, 1);
}

TEST_F(MigrationTest, HotkeyPresetBecomesTheFirstShortcut) {
  store.set(K::hotkeyPreset, "controlTab");
  launch();
  EXPECT_EQ(store.storedObject(K::hotkeyBinding1), (Value{{"keyCode", 48}, {"flags", 0x40000}}));
  EXPECT_FALSE(store.hasStoredValue(K::hotkeyPreset));

  DefaultsStore other;
  AppSettings otherSettings(other);
  other.set(K::hotkeyPreset, "optionSpace");
  SettingsMigrations(otherSettings.store()).hotkeyPreset();
  EXPECT_EQ(other.storedObject(K::hotkeyBinding1), (Value{{"keyCode", 49}, {"flags", 0x80000}}));
  other.remove(K::hotkeyBinding1);
  other.set(K::hotkeyPreset, "something");
  SettingsMigrations(otherSettings.store()).hotkeyPreset();
  EXPECT_EQ(other.storedObject(K::hotkeyBinding1), (Value{{"keyCode", 48}, {"flags", 0x80000}}));
}

TEST_F(MigrationTest, HotkeyPresetOnlyRemovedWhenAShortcutIsStored) {
  const Value own = {{"keyCode", 12}, {"flags", 0x100000}};
  store.set(K::hotkeyBinding1, own);
  store.set(K::hotkeyPreset, "optionSpace");
  launch();
  EXPECT_EQ(store.storedObject(K::hotkeyBinding1), own);
  EXPECT_FALSE(store.hasStoredValue(K::hotkeyPreset));
}

TEST_F(MigrationTest, CategoryTogglesBecomeDisplayChoices) {
  store.set(K::showMinimized, false);
  store.set(K::showOtherSpaces, "YES");
  store.set(K::showHiddenApps, true);
  store.set(K::hiddenAppsDisplay, "atEnd");
  launch();
  EXPECT_EQ(store.storedObject(K::minimizedDisplay), Value("hide"));
  EXPECT_EQ(store.storedObject(K::otherSpacesDisplay), Value("show"));
  EXPECT_EQ(store.storedObject(K::hiddenAppsDisplay), Value("atEnd"));
  for (const char* old : {K::showMinimized, K::showOtherSpaces, K::showHiddenApps}) {
    EXPECT_FALSE(store.hasStoredValue(old)) << old;
  }
}

TEST_F(MigrationTest, TabsDisplayFromBothOldKeys) {
  struct Case {
    std::optional<Value> browserTabs;
    std::optional<bool> showAll;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {Value("off"), true, "whileSearching"},
      {Value("off"), false, "off"},
      {Value("off"), std::nullopt, "off"},
      {Value("always"), false, "always"},
      {Value("whileSearching"), false, "whileSearching"},
      {Value("sometimes"), std::nullopt, "whileSearching"},
      {std::nullopt, true, "whileSearching"},
      {std::nullopt, false, std::nullopt},
      {std::nullopt, std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    DefaultsStore fresh;
    AppSettings freshSettings(fresh);
    if (c.browserTabs) fresh.set(K::browserTabsDisplay, *c.browserTabs);
    if (c.showAll) fresh.set(K::showAllTabs, *c.showAll);
    SettingsMigrations(freshSettings.store()).tabsDisplay();
    const auto stored = fresh.storedObject(K::tabsDisplay);
    if (c.expected) {
      EXPECT_EQ(stored, Value(*c.expected));
    } else {
      EXPECT_FALSE(stored);
    }
    EXPECT_FALSE(fresh.hasStoredValue(K::browserTabsDisplay));
    EXPECT_FALSE(fresh.hasStoredValue(K::showAllTabs));
  }
}

TEST_F(MigrationTest, TabsDisplayKeepsAStoredChoice) {
  store.set(K::tabsDisplay, "off");
  store.set(K::browserTabsDisplay, "always");
  launch();
  EXPECT_EQ(settings.tabsDisplay(), AppSettings::TabsDisplay::off);
  EXPECT_FALSE(store.hasStoredValue(K::browserTabsDisplay));
}

TEST_F(MigrationTest, NothingOldLeavesTabsDisplayToItsDefault) {
  launch();
  EXPECT_FALSE(store.hasStoredValue(K::tabsDisplay));
  EXPECT_EQ(settings.tabsDisplay(), AppSettings::TabsDisplay::always);
}

TEST_F(MigrationTest, SearchHintBecomesShowTips) {
  store.set(K::searchHint, false);
  launch();
  EXPECT_EQ(store.storedObject(K::showTips), Value(false));
  EXPECT_FALSE(store.hasStoredValue(K::searchHint));

  DefaultsStore other;
  AppSettings otherSettings(other);
  other.set(K::showTips, true);
  other.set(K::searchHint, false);
  SettingsMigrations(otherSettings.store()).searchHint();
  EXPECT_EQ(other.storedObject(K::showTips), Value(true));
  EXPECT_FALSE(other.hasStoredValue(K::searchHint));
}

TEST_F(MigrationTest, AnimationSpeedIsRescaledOnce) {
  store.set(K::animationSpeed, "normal");
  launch();
  EXPECT_EQ(store.storedObject(K::animationSpeed), Value("fast"));
  launch();
  EXPECT_EQ(store.storedObject(K::animationSpeed), Value("fast"));

  DefaultsStore other;
  AppSettings otherSettings(other);
  other.set(K::animationSpeed, "slow");
  SettingsMigrations(otherSettings.store()).rescaleAnimationSpeedOnce();
  EXPECT_EQ(other.storedObject(K::animationSpeed), Value("normal"));
  otherSettings.resetAll();
  other.set(K::animationSpeed, "slow");
  SettingsMigrations(otherSettings.store()).rescaleAnimationSpeedOnce();  // the guard outlives a reset
  EXPECT_EQ(other.storedObject(K::animationSpeed), Value("slow"));
}

TEST_F(MigrationTest, RegisteredSpeedIsNeverRescaled) {
  // Even if registration came first, only a stored speed is rewritten.
  settings.registerDefaults();
  SettingsMigrations(settings.store()).rescaleAnimationSpeedOnce();
  EXPECT_FALSE(store.hasStoredValue(K::animationSpeed));
  EXPECT_EQ(settings.animationSpeed(), AppSettings::AnimationSpeed::normal);
}

}  // namespace
}  // namespace quorvel
