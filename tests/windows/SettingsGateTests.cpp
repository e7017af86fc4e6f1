#include <gtest/gtest.h>

#include "base/DefaultsStore.h"
#include "settings/AppSettings.h"
#include "windows/SettingsGate.h"

namespace quorvel {
namespace {

using Key = AppSettings::Key;

class SettingsGateTest : public ::testing::Test {
 protected:
  int64_t gate() const { return SettingsGate::readGateSettings(settings); }

  DefaultsStore store;
  AppSettings settings{store};
};

TEST_F(SettingsGateTest, OrderingSettingsLeaveTheGateAlone) {
  settings.registerDefaults();
  const int64_t before = gate();
  store.set(Key::windowOrder, "alphabetical");
  store.set(Key::groupByApp, true);
  store.set(Key::stackOrder, "native");
  store.set(Key::bunchAppWindows, true);
  store.set(Key::bunchTabs, false);
  store.set(Key::switcherStyle, "row");
  EXPECT_EQ(gate(), before);
}

TEST_F(SettingsGateTest, EveryMembershipSettingMovesTheGate) {
  int64_t last = gate();
  const std::vector<std::pair<const char*, DefaultsStore::Value>> changes = {
      {Key::otherSpacesDisplay, "hide"},         {Key::minimizedDisplay, "atEnd"},
      {Key::hiddenAppsDisplay, "hide"},          {Key::windowlessAppsDisplay, "atEnd"},
      {Key::privateWindowsDisplay, "hidePicture"}, {Key::tabsDisplay, "off"},
  };
  for (const auto& [key, value] : changes) {
    store.set(key, value);
    const int64_t now = gate();
    EXPECT_NE(now, last) << key;
    last = now;
  }
}

TEST_F(SettingsGateTest, UnknownTabsDisplayReadsAsWhileSearching) {
  store.set(Key::tabsDisplay, "whileSearching");
  const int64_t whileSearching = gate();
  store.set(Key::tabsDisplay, "sometimes");
  EXPECT_EQ(gate(), whileSearching);
  store.remove(Key::tabsDisplay);
  EXPECT_EQ(gate(), whileSearching) << "nothing stored and nothing registered";

  // With the registered table, removing the value falls back to the registered default, and the
  // gate follows what the setting now means.
  settings.registerDefaults();
  store.set(Key::tabsDisplay, std::string(AppSettings::rawValue(settings.tabsDisplay())));
  const int64_t stored = gate();
  store.remove(Key::tabsDisplay);
  EXPECT_EQ(gate(), stored);
}

TEST_F(SettingsGateTest, HiddenListCountsItsOrderAndEmptyEntries) {
  store.set(Key::hiddenBundleIDs, DefaultsStore::Value::array({"com.a", "com.b"}));
  const int64_t ab = gate();
  store.set(Key::hiddenBundleIDs, DefaultsStore::Value::array({"com.b", "com.a"}));
  EXPECT_NE(gate(), ab);
  store.set(Key::hiddenBundleIDs, DefaultsStore::Value::array({"com.a", "com.b", ""}));
  EXPECT_NE(gate(), ab);
  // Strings are fed with their boundaries: ["ab"] differs from ["a", "b"].
  store.set(Key::hiddenBundleIDs, DefaultsStore::Value::array({"a", "b"}));
  const int64_t split = gate();
  store.set(Key::hiddenBundleIDs, DefaultsStore::Value::array({"ab"}));
  EXPECT_NE(gate(), split);
}

TEST_F(SettingsGateTest, TitlePatternsCountByContentNotEntryOrder) {
  store.set(Key::hiddenTitlePatterns,
            DefaultsStore::Value::parse(R"({"com.a": ["secret", "draft"], "com.b": ["x"]})"));
  const int64_t first = gate();
  store.set(Key::hiddenTitlePatterns,
            DefaultsStore::Value::parse(R"({"com.b": ["x"], "com.a": ["secret", "draft"]})"));
  EXPECT_EQ(gate(), first);
  store.set(Key::hiddenTitlePatterns,
            DefaultsStore::Value::parse(R"({"com.a": ["secret", "drafts"], "com.b": ["x"]})"));
  EXPECT_NE(gate(), first);
  store.set(Key::hiddenTitlePatterns, DefaultsStore::Value::parse(R"({"com.a": ["secret", "draft"]})"));
  EXPECT_NE(gate(), first);
  store.set(Key::hiddenTitlePatterns,
            DefaultsStore::Value::parse(R"({"com.a": ["secret", "draft"], "com.c": ["x"]})"));
  EXPECT_NE(gate(), first);
}

}  // namespace
}  // namespace quorvel
