#include <gtest/gtest.h>

#include <fstream>

#include <nlohmann/json.hpp>

#include "base/DefaultsStore.h"
#include "feedback/FeedbackReport.h"
#include "settings/SettingsSchema.h"

namespace quorvel {
namespace {

FeedbackEnvironment sampleEnvironment() {
  return {"1.4.2", "812", "Debian GNU/Linux 12.0.0", "ThinkPad X1", {{"b", "2"}, {"a", "1"}}};
}

TEST(FeedbackReport, EncodesTheDocumentByteForByte) {
  struct Case {
    const char* name;
    std::string message, email;
    bool systemInfo;
    std::string expected;
  };
  const Case cases[] = {
      {"message alone", "It crashed", "", false, R"({"message":"It crashed","schemaVersion":1})"},
      {"blank address and trimmed message", "\n  Hi there \t\n", " \n ", false,
       R"({"message":"Hi there","schemaVersion":1})"},
      {"inner text stays as typed", "\u00a0a  \n b\u2003", "\u3000me@example.org ", false,
       "{\"email\":\"me@example.org\",\"message\":\"a  \\n b\",\"schemaVersion\":1}"},
      {"every field, keys sorted at every level", "x", "me@example.org", true,
       R"({"appVersion":"1.4.2","build":"812","email":"me@example.org","hardwareModel":"ThinkPad X1",)"
       R"("message":"x","osVersion":"Debian GNU/Linux 12.0.0","schemaVersion":1,"settings":{"a":"1","b":"2"}})"},
  };
  for (const auto& c : cases) {
    int gathered = 0;
    const auto report = FeedbackReport::make(c.message, c.email, c.systemInfo, [&] {
      ++gathered;
      return sampleEnvironment();
    });
    EXPECT_EQ(report.encoded(), c.expected) << c.name;
    EXPECT_EQ(gathered, c.systemInfo ? 1 : 0) << c.name << ": the environment is gathered only when included";
  }
  FeedbackReport broken = FeedbackReport::makeWithout("\xff\xfe", "");
  EXPECT_EQ(broken.encoded(), std::nullopt) << "text that is not UTF-8 is an encoding failure, not a crash";
}

TEST(FeedbackEnvironment, SummarisesEverySettingByItsRegisteredType) {
  DefaultsStore store;
  store.registerDefaults(SettingsSchema::defaults());
  const auto registered = SettingsSchema::defaults();
  // A key of each kind, taken from the schema so the test follows it.
  std::string boolKey, doubleKey, listKey;
  for (const auto& [key, value] : registered) {
    if (value.is_boolean() && boolKey.empty()) boolKey = key;
    if (value.is_number_float() && doubleKey.empty()) doubleKey = key;
    if (value.is_array() && !FeedbackEnvironment::countedKeys().contains(key) && listKey.empty()) listKey = key;
  }
  ASSERT_FALSE(boolKey.empty());
  ASSERT_FALSE(doubleKey.empty());
  store.set(boolKey, !registered.at(boolKey).get<bool>());
  store.set(doubleKey, 1);
  store.set("hiddenTitlePatterns", {{"org.a", {"one", "two"}}, {"org.b", {"three"}}});
  store.set("passThroughBundleIDs", {"org.example"});
  store.set("onboarding.step", 3);

  const auto summary = FeedbackEnvironment::settingsSummary(store);
  EXPECT_EQ(summary.size(), registered.size()) << "one entry per registered key, and no other";
  EXPECT_FALSE(summary.contains("onboarding.step"));
  EXPECT_EQ(summary.at(boolKey), registered.at(boolKey).get<bool>() ? "false" : "true");
  EXPECT_EQ(summary.at(doubleKey), "1.0");
  EXPECT_EQ(summary.at("hotkeyBinding1"), "flags=524288 keyCode=48");
  EXPECT_EQ(summary.at("hiddenTitlePatterns"), "3 words for 2 apps");
  EXPECT_EQ(summary.at("passThroughBundleIDs"), "1 app");
  EXPECT_EQ(summary.at("hiddenBundleIDs"), "0 apps");
  if (!listKey.empty()) {
    std::string joined;
    for (const auto& entry : registered.at(listKey)) joined += (joined.empty() ? "" : ", ") + entry.get<std::string>();
    EXPECT_EQ(summary.at(listKey), joined) << "a list never stored reads as the registered list";
    store.set(listKey, {"a", "b"});
    EXPECT_EQ(FeedbackEnvironment::settingsSummary(store).at(listKey), "a, b");
  }

  const nlohmann::json emptyMap = nlohmann::json::object();
  store.remove("hiddenTitlePatterns");
  EXPECT_EQ(FeedbackEnvironment::countSummary("hiddenTitlePatterns", emptyMap, store), "0 words for 0 apps");
  store.set("hiddenTitlePatterns", {{"org.a", {"w"}}, {"org.b", 7}});
  EXPECT_EQ(FeedbackEnvironment::countSummary("hiddenTitlePatterns", emptyMap, store), "1 word for 2 apps");
  store.set("hiddenBundleIDs", nlohmann::json::array({"a", "b", "c"}));
  EXPECT_EQ(FeedbackEnvironment::countSummary("hiddenBundleIDs", nlohmann::json::array(), store), "3 apps");
}

TEST(FeedbackEnvironment, ReadsTheSystemAndTheMachineOrSaysUnknown) {
  const struct {
    std::optional<std::string> osRelease;
    std::string expected;
  } versions[] = {
      {"PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nNAME=\"Debian GNU/Linux\"\nVERSION_ID=\"12\"\n",
       "Debian GNU/Linux 12.0.0"},
      {"NAME='Ubuntu'\nVERSION_ID=22.04\n", "Ubuntu 22.4.0"},
      {"NAME=Fedora\nVERSION_ID=40.1.2\n", "Fedora 40.1.2"},
      {"NAME=\"Arch Linux\"\n", "Arch Linux"},
      {"NAME=Tumbleweed\nVERSION_ID=\"20240101.x\"\n", "Tumbleweed 20240101.x"},
      {std::nullopt, "unknown"},
  };
  for (const auto& v : versions) EXPECT_EQ(FeedbackEnvironment::systemVersion(v.osRelease), v.expected);

  const auto folder = std::filesystem::path(testing::TempDir()) / "feedback-model";
  std::filesystem::create_directories(folder);
  auto write = [&](const char* name, std::string bytes) {
    std::ofstream(folder / name, std::ios::binary) << bytes;
    return folder / name;
  };
  const auto empty = write("empty", "\n");
  const auto board = write("board", std::string("Raspberry Pi 4\0junk", 19));
  const auto bad = write("bad", "Box \xff\n");
  EXPECT_EQ(FeedbackEnvironment::readHardwareModel({folder / "missing", empty, board}), "Raspberry Pi 4");
  EXPECT_EQ(FeedbackEnvironment::readHardwareModel({bad}), "Box \uFFFD");
  EXPECT_EQ(FeedbackEnvironment::readHardwareModel({empty}), std::nullopt);

  DefaultsStore store;
  store.registerDefaults(SettingsSchema::defaults());
  const auto environment =
      FeedbackEnvironment::current(store, {"2.0", std::nullopt, folder / "missing", {folder / "missing"}});
  EXPECT_EQ(environment.appVersion, "2.0");
  EXPECT_EQ(environment.build, "unknown");
  EXPECT_EQ(environment.osVersion, "unknown");
  EXPECT_EQ(environment.hardwareModel, "unknown");

  FeedbackEnvironment details{"1", "2", "Debian 12.0.0", "Box", {{"Zeta", "z"}, {"alpha", "a"}, {"AAA", "x"}}};
  EXPECT_EQ(details.detailsText(),
            (std::vector<std::string>{"appVersion: 1", "build: 2", "osVersion: Debian 12.0.0", "hardwareModel: Box",
                                      "AAA: x", "Zeta: z", "alpha: a"}));
  // The user reads the names the document carries: each fact's label is its key there.
  const auto document = nlohmann::json::parse(
      FeedbackReport::make("x", "", true, [] { return sampleEnvironment(); }).encoded().value_or("{}"));
  for (const std::string& line : sampleEnvironment().detailsText()) {
    const std::string label = line.substr(0, line.find(':'));
    EXPECT_TRUE(document.contains(label) || document["settings"].contains(label)) << label;
  }
}

}  // namespace
}  // namespace quorvel
