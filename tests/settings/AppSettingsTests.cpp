#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "base/DefaultsStore.h"
#include "settings/AppSettings.h"

namespace quorvel {
namespace {

using Value = AppSettings::Value;
using K = AppSettings::Key;

class AppSettingsTest : public ::testing::Test {
 protected:
  DefaultsStore store;
  AppSettings settings{store};
};

TEST(AppSettingsTableTest, BaseTableHoldsEveryKeyOnceInTableOrder) {
  const auto base = AppSettings::baseDefaults();
  ASSERT_EQ(base.size(), 81u);
  std::set<std::string> keys;
  for (const auto& entry : base) EXPECT_TRUE(keys.insert(entry.key).second) << entry.key;
  EXPECT_EQ(base.front().key, "hotkeyBinding1");
  EXPECT_EQ(base[73].key, "showMenuBarIcon");
  EXPECT_EQ(base[74].key, "cardSpacingCoverArc");
  EXPECT_EQ(base[80].key, "cardSpacingRow");
  EXPECT_EQ(AppSettings::defaults().size(), 81u);
}

TEST(AppSettingsTableTest, HouseLookIsLaidOverTheBaseValues) {
  EXPECT_EQ(AppSettings::houseLook().size(), 20u);
  const auto defaults = AppSettings::defaults();
  EXPECT_EQ(defaults.at("titleSize"), "large");
  EXPECT_EQ(defaults.at("cardChromeSize"), "small");
  EXPECT_EQ(defaults.at("windowOrder"), "fixed");
  EXPECT_EQ(defaults.at("tabsDisplay"), "always");
  EXPECT_EQ(defaults.at("vimKeys"), true);
  EXPECT_EQ(defaults.at("backdropColor"), "#081420");
  EXPECT_DOUBLE_EQ(defaults.at("blurAmount").get<double>(), 0.3075876258539431);
  EXPECT_DOUBLE_EQ(defaults.at("cardSpacingFlip3d").get<double>(), 0.8991108425414365);
  // Untouched by the house look.
  EXPECT_DOUBLE_EQ(defaults.at("cardSpacingExpo").get<double>(), 1.0);
  EXPECT_EQ(defaults.at("hiddenAppsDisplay"), "hide");
  EXPECT_EQ(defaults.at("hotkeyBinding1"), (Value{{"keyCode", 48}, {"flags", 524288}}));
  EXPECT_EQ(defaults.at("hotkeyBinding2"), Value::object());
  EXPECT_EQ(defaults.at("passThroughBundleIDs").size(), 11u);
  EXPECT_EQ(defaults.at("passThroughBundleIDs")[3], "x11.org.remmina.");  // a prefix entry
  // Every value of the effective table differs from the base only where the house look says so.
  const auto base = AppSettings::baseDefaults();
  const auto look = AppSettings::houseLook();
  int changed = 0;
  for (const auto& entry : base) {
    if (defaults.at(entry.key) != entry.value) {
      ++changed;
      EXPECT_TRUE(look.contains(entry.key)) << entry.key;
    }
  }
  EXPECT_EQ(changed, 19);  // "animationSpeed" is laid over with its own base value
}

TEST(AppSettingsTableTest, HouseLookOfAnotherTypeOrUnknownKeyIsSkipped) {
  std::vector<AppSettings::DefaultEntry> base = {
      {"flag", AppSettings::ValueType::boolean, Value(false)},
      {"amount", AppSettings::ValueType::number, Value(0.5)},
      {"name", AppSettings::ValueType::text, Value("a")},
  };
  const auto laid = AppSettings::laidOver(
      base, {{"flag", Value("yes")}, {"amount", Value(2)}, {"name", Value("b")}, {"other", Value(true)}});
  ASSERT_EQ(laid.size(), 3u);
  EXPECT_EQ(laid[0].value, false);   // text over a Boolean
  EXPECT_EQ(laid[1].value, 0.5);     // an integer over a floating number
  EXPECT_EQ(laid[2].value, "b");
}

TEST_F(AppSettingsTest, NothingStoredReadsRegisteredDefaults) {
  settings.registerDefaults();
  EXPECT_EQ(settings.titleSize(), AppSettings::TitleSize::large);
  EXPECT_EQ(settings.cardChromeSize(), AppSettings::TitleSize::small);
  EXPECT_EQ(settings.windowOrder(), AppSettings::WindowOrder::fixed);
  EXPECT_EQ(settings.tabsDisplay(), AppSettings::TabsDisplay::always);
  EXPECT_EQ(settings.privateWindowsDisplay(), AppSettings::PrivateWindowsDisplay::blur);
  EXPECT_EQ(settings.hiddenAppsDisplay(), AppSettings::CategoryDisplay::hide);
  EXPECT_EQ(settings.windowlessAppsDisplay(), AppSettings::CategoryDisplay::atEnd);
  EXPECT_EQ(settings.summonGesture(), AppSettings::SummonGesture::threeFingers);
  EXPECT_EQ(settings.switcherStyle(), AppSettings::SwitcherStyle::coverArc);
  EXPECT_TRUE(settings.boolValue(K::vimKeys));
  EXPECT_FALSE(settings.boolValue(K::fadeSelectedTitle));
  EXPECT_DOUBLE_EQ(settings.doubleValue(K::backdropDim), 0.4155263185521122);
  EXPECT_EQ(settings.hotkeyBinding(HotkeySlot::first), (HotkeyBinding{48, HotkeyBinding::optionFlag}));
  EXPECT_EQ(settings.hotkeyBinding(HotkeySlot::second), std::nullopt);
  EXPECT_EQ(settings.cancelBinding(), std::nullopt);
  EXPECT_DOUBLE_EQ(settings.cardSpacing(AppSettings::SwitcherStyle::coverArc), 1.4545188210227273);
  EXPECT_EQ(settings.stringList(K::hiddenBundleIDs), std::vector<std::string>{});
}

TEST_F(AppSettingsTest, SwitcherStyleReadsLegacyNameAndFallsBackToCoverArc) {
  store.set(K::switcherStyle, "classicRing");
  EXPECT_EQ(settings.switcherStyle(), AppSettings::SwitcherStyle::flatRing);
  store.set(K::switcherStyle, "Flip3d");
  EXPECT_EQ(settings.switcherStyle(), AppSettings::SwitcherStyle::coverArc);
  store.set(K::switcherStyle, "row");
  EXPECT_EQ(settings.switcherStyle(), AppSettings::SwitcherStyle::row);
  store.set(K::switcherStyle, Value::array({"row"}));
  EXPECT_EQ(settings.switcherStyle(), AppSettings::SwitcherStyle::coverArc);
}

TEST_F(AppSettingsTest, ThreeCaseKeysFallBackToTheMiddleCase) {
  settings.registerDefaults();
  store.set(K::titleSize, "huge");
  EXPECT_EQ(settings.titleSize(), AppSettings::TitleSize::medium);
  store.set(K::titleSize, "small");
  EXPECT_EQ(settings.titleSize(), AppSettings::TitleSize::small);
  store.set(K::summonGesture, "");
  EXPECT_EQ(settings.summonGesture(), AppSettings::SummonGesture::threeFingers);
  store.set(K::summonGesture, "off");
  EXPECT_EQ(settings.summonGesture(), AppSettings::SummonGesture::off);
  for (const char* text : {"Always", "never", "whileSearching ", ""}) {
    store.set(K::tabsDisplay, text);
    EXPECT_EQ(settings.tabsDisplay(), AppSettings::TabsDisplay::whileSearching) << text;
  }
  store.set(K::dragRestTime, "long");
  EXPECT_EQ(settings.dragRestTime(), AppSettings::DragRestTime::long_);
  store.set(K::animationSpeed, 3);
  EXPECT_EQ(settings.animationSpeed(), AppSettings::AnimationSpeed::normal);
}

TEST_F(AppSettingsTest, OtherKeysFallBackToTheirFirstCase) {
  settings.registerDefaults();
  store.set(K::windowOrder, 2);
  EXPECT_EQ(settings.windowOrder(), AppSettings::WindowOrder::recent);
  store.set(K::windowOrder, Value::array({"fixed"}));
  EXPECT_EQ(settings.windowOrder(), AppSettings::WindowOrder::recent);
  store.set(K::windowOrder, "bySpace");
  EXPECT_EQ(settings.windowOrder(), AppSettings::WindowOrder::bySpace);
  store.set(K::hiddenAppsDisplay, "HIDE");
  EXPECT_EQ(settings.hiddenAppsDisplay(), AppSettings::CategoryDisplay::show);
  store.set(K::switcherBehavior, "toggle");
  EXPECT_EQ(settings.switcherBehavior(), AppSettings::SwitcherBehavior::toggle);
  store.set(K::switcherBehavior, "Toggle");
  EXPECT_EQ(settings.switcherBehavior(), AppSettings::SwitcherBehavior::holdToSwitch);
  store.set(K::hotkeyScope2, "activeApp");
  EXPECT_EQ(settings.hotkeyScope(HotkeySlot::second), AppSettings::HotkeyScope::activeApp);
  EXPECT_EQ(settings.hotkeyScope(HotkeySlot::first), AppSettings::HotkeyScope::allWindows);
  store.set(K::summonScreen, "builtInScreen");
  EXPECT_EQ(settings.summonScreen(), AppSettings::SummonScreen::builtInScreen);
  store.set(K::moveResize, true);
  EXPECT_EQ(settings.moveResize(), AppSettings::MoveResize::fitToDisplay);
}

TEST_F(AppSettingsTest, EveryEnumeratedKeyOfTheTableReadsItsCasesAndNothingElse) {
  settings.registerDefaults();
  size_t enumerated = 0;
  for (const auto& entry : AppSettings::baseDefaults()) {
    if (entry.cases.empty()) {
      EXPECT_EQ(SettingsSchema::tolerantValue(entry.key, store.string(entry.key)), "") << entry.key;
      continue;
    }
    ++enumerated;
    ASSERT_LT(entry.unknownCase, entry.cases.size()) << entry.key;
    for (std::string_view name : entry.cases) {
      store.set(entry.key, std::string(name));
      EXPECT_EQ(SettingsSchema::tolerantValue(entry.key, store.string(entry.key)), name) << entry.key;
    }
    for (const Value& stranger : {Value("noSuchCase"), Value(""), Value(7), Value::array({entry.cases[0]})}) {
      store.set(entry.key, stranger);
      EXPECT_EQ(SettingsSchema::tolerantValue(entry.key, store.string(entry.key)), entry.cases[entry.unknownCase])
          << entry.key << " " << stranger.dump();
    }
    store.remove(entry.key);
  }
  EXPECT_EQ(enumerated, 28u);
}

TEST(AppSettingsEnumTest, RawValuesAreCaseNamesInOrder) {
  using S = AppSettings::SwitcherStyle;
  const auto styles = AppSettings::allCases<S>();
  ASSERT_EQ(styles.size(), 7u);
  std::vector<std::string> names;
  for (S style : styles) names.emplace_back(AppSettings::rawValue(style));
  EXPECT_EQ(names, (std::vector<std::string>{"coverArc", "tangentRing", "flatRing", "flip3d", "cylinder",
                                             "expo", "row"}));
  EXPECT_EQ(AppSettings::fromRawValue<S>("expo"), S::expo);
  EXPECT_EQ(AppSettings::fromRawValue<S>("Expo"), std::nullopt);
  EXPECT_EQ(AppSettings::fromRawValue<AppSettings::WindowOrder>("bySpace"), AppSettings::WindowOrder::bySpace);
  EXPECT_EQ(AppSettings::rawValue(AppSettings::DragRestTime::long_), "long");
  EXPECT_EQ(AppSettings::allCases<AppSettings::PrivateWindowsDisplay>().size(), 4u);
}

TEST_F(AppSettingsTest, ResetRemovesTableKeysOnly) {
  settings.registerDefaults();
  store.set(K::vimKeys, false);
  store.set(K::switcherStyle, "row");
  store.set(K::hasRescaledAnimationSpeed, true);
  store.set("settingsTab", "about");
  settings.resetAll();
  EXPECT_FALSE(store.hasStoredValue(K::vimKeys));
  EXPECT_FALSE(store.hasStoredValue(K::switcherStyle));
  EXPECT_TRUE(settings.boolValue(K::vimKeys));
  EXPECT_TRUE(store.hasStoredValue(K::hasRescaledAnimationSpeed));
  EXPECT_TRUE(store.hasStoredValue("settingsTab"));
}

TEST_F(AppSettingsTest, CardSpacingIsBoundedPerArrangement) {
  using S = AppSettings::SwitcherStyle;
  EXPECT_EQ(AppSettings::cardSpacingKey(S::flip3d), "cardSpacingFlip3d");
  EXPECT_EQ(AppSettings::cardSpacingKey(S::row), "cardSpacingRow");
  EXPECT_EQ(AppSettings::cardSpacingKey(S::tangentRing), "cardSpacingTangentRing");
  EXPECT_DOUBLE_EQ(settings.cardSpacing(S::coverArc), 1.0);  // nothing stored or registered
  store.set(K::cardSpacingCoverArc, 5);
  EXPECT_DOUBLE_EQ(settings.cardSpacing(S::coverArc), 2.0);
  store.set(K::cardSpacingCoverArc, 0.5);
  EXPECT_DOUBLE_EQ(settings.cardSpacing(S::coverArc), 0.8);
  store.set(K::cardSpacingCoverArc, -1);
  EXPECT_DOUBLE_EQ(settings.cardSpacing(S::coverArc), 1.0);
  store.set(K::cardSpacingCoverArc, "fast");
  EXPECT_DOUBLE_EQ(settings.cardSpacing(S::coverArc), 1.0);
  store.set(K::cardSpacingExpo, 0.9);
  EXPECT_DOUBLE_EQ(settings.cardSpacing(S::expo), 1.0);
  store.set(K::cardSpacingFlatRing, 1.7);
  EXPECT_DOUBLE_EQ(settings.cardSpacing(S::flatRing), 1.6);
  store.set(K::cardSpacingCylinder, 1.2);
  EXPECT_DOUBLE_EQ(settings.cardSpacing(S::cylinder), 1.2);
}

TEST(AppSettingsColourTest, HexTextParsesToComponents) {
  const auto expected = AppSettings::Rgb{10 / 255.0, 14 / 255.0, 21 / 255.0};
  EXPECT_EQ(AppSettings::rgbFromHex(" #0A0E15\t"), expected);
  EXPECT_EQ(AppSettings::rgbFromHex("0a0e15"), expected);
  EXPECT_EQ(AppSettings::rgbFromHex("#ffffff"), (AppSettings::Rgb{1, 1, 1}));
  EXPECT_EQ(AppSettings::rgbFromHex("#0a0e1"), std::nullopt);
  EXPECT_EQ(AppSettings::rgbFromHex("#0a0e151"), std::nullopt);
  EXPECT_EQ(AppSettings::rgbFromHex("#0a0g15"), std::nullopt);
  EXPECT_EQ(AppSettings::rgbFromHex("##0a0e15"), std::nullopt);
  EXPECT_EQ(AppSettings::rgbFromHex("#0a0e15\n"), std::nullopt);  // line breaks are not trimmed
  EXPECT_EQ(AppSettings::rgbFromHex("#0a0\u00e9"), std::nullopt);
  EXPECT_EQ(AppSettings::rgbFromHex(""), std::nullopt);
  // The integer reading takes a sign in place of the first digit.
  EXPECT_EQ(AppSettings::rgbFromHex("+0000ff"), std::nullopt);
  EXPECT_EQ(AppSettings::rgbFromHex("+000ff"), (AppSettings::Rgb{0, 0, 1}));
  EXPECT_EQ(AppSettings::rgbFromHex("-00000"), (AppSettings::Rgb{0, 0, 0}));
  EXPECT_EQ(AppSettings::rgbFromHex("-00001"), std::nullopt);
}

TEST(AppSettingsColourTest, ColorByteAndBlurRadiusRoundAndClamp) {
  EXPECT_EQ(AppSettings::colorByte(0.5), 128);
  EXPECT_EQ(AppSettings::colorByte(1.7), 255);
  EXPECT_EQ(AppSettings::colorByte(-0.2), 0);
  EXPECT_EQ(AppSettings::colorByte(NAN), 0);
  EXPECT_EQ(AppSettings::blurRadius(1.5), 64);
  EXPECT_EQ(AppSettings::blurRadius(0.01), 1);
  EXPECT_EQ(AppSettings::blurRadius(0.007), 0);
  EXPECT_EQ(AppSettings::blurRadius(0.5), 32);
  EXPECT_EQ(AppSettings::blurRadius(0.3075876258539431), 20);
  EXPECT_EQ(AppSettings::blurRadius(NAN), 0);
  EXPECT_EQ(AppSettings::blurRadius(INFINITY), 64);
  ASSERT_EQ(AppSettings::backdropPresets().size(), 6u);
  for (const auto& preset : AppSettings::backdropPresets()) {
    EXPECT_TRUE(AppSettings::rgbFromHex(preset.hex)) << preset.name;
  }
}

}  // namespace
}  // namespace quorvel
