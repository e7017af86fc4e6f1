#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "settings/AppSettings.h"
#include "settings/SettingsSchema.h"

namespace quorvel {
namespace {

using ValueType = SettingsSchema::ValueType;

TEST(SettingsSchema, EnumeratedSettingsCarryTheirCasesAndDefaultToOne) {
  size_t enumerated = 0;
  for (const SettingsSchema::Entry& entry : SettingsSchema::effective()) {
    if (entry.cases.empty()) continue;
    ++enumerated;
    EXPECT_EQ(entry.type, ValueType::text) << entry.key;
    ASSERT_TRUE(entry.value.is_string()) << entry.key;
    const std::string value = entry.value.get<std::string>();
    EXPECT_NE(std::find(entry.cases.begin(), entry.cases.end(), value), entry.cases.end())
        << entry.key << " defaults to " << value << ", which is none of its cases";
  }
  EXPECT_EQ(enumerated, 28u);

  const auto style = SettingsSchema::find(AppSettings::Key::switcherStyle);
  ASSERT_TRUE(style);
  EXPECT_EQ(std::vector<std::string_view>(style->cases.begin(), style->cases.end()),
            (std::vector<std::string_view>{"coverArc", "tangentRing", "flatRing", "flip3d", "cylinder", "expo", "row"}));
  const auto color = SettingsSchema::find(AppSettings::Key::backdropColor);
  ASSERT_TRUE(color);
  EXPECT_TRUE(color->cases.empty()) << "free text, no cases";
  EXPECT_FALSE(SettingsSchema::find(AppSettings::Key::hotkeyPreset)) << "keys of earlier versions are not in the table";
  EXPECT_EQ(SettingsSchema::find(AppSettings::Key::tabsDisplay)->value, "always") << "the house look is laid over";
}

}  // namespace
}  // namespace quorvel
