#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "base/DefaultsStore.h"
#include "settings/AppSettings.h"
#include "settings/SettingsTransfer.h"
#include "settings/TitlePatterns.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using Value = AppSettings::Value;
using K = AppSettings::Key;
using Failure = SettingsTransfer::Failure;
using Words = std::vector<std::string>;

const std::string kNotASettingsFile =
    "That file could not be read as a Quorvel settings file. Nothing was changed.";

std::string fileWith(const Value& settings, const Value& version = 1) {
  return Value{{"schemaVersion", version}, {"appVersion", "1.0"}, {"settings", settings}}.dump();
}

std::string readAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class SettingsTransferTest : public ::testing::Test {
 protected:
  void SetUp() override {
    settings.registerDefaults();
    folder = fs::temp_directory_path() /
             ("quorvel-transfer-" + std::to_string(::getpid()) + "-" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder);
    fs::create_directories(folder);
  }
  void TearDown() override { fs::remove_all(folder); }

  // A failed import leaves the store exactly as it was and tells nobody.
  void expectRefused(const SettingsTransfer::ImportResult& result, Failure expected) {
    ASSERT_FALSE(result.succeeded());
    EXPECT_EQ(*result.failure, expected);
    EXPECT_EQ(result.written, 0);
    EXPECT_EQ(store.storedValues(), before);
    EXPECT_EQ(changes, 0);
  }
  void watch() {
    before = store.storedValues();
    watching = store.addObserver([this] { ++changes; });
  }

  DefaultsStore store;
  AppSettings settings{store};
  SettingsTransfer transfer{settings};
  fs::path folder;
  std::map<std::string, Value> before;
  int changes = 0;
  Subscription watching;  // last: cancelled before what it counts into goes
};

TEST_F(SettingsTransferTest, ExportWritesEveryKeySortedWithWholeNumbers) {
  store.set(K::switcherStyle, "row");
  store.set(K::hotkeyBinding2, Value{{"keyCode", 49}, {"flags", 524288}, {"note", "x"}, {"half", 1.5}});
  const auto exported = transfer.exportSettings(store);
  ASSERT_TRUE(exported.succeeded()) << exported.error;
  const auto document = Value::parse(*exported.data);
  EXPECT_EQ(document["schemaVersion"], 1);
  EXPECT_TRUE(document["appVersion"].is_string());
  const auto& written = document["settings"];
  EXPECT_EQ(written.size(), 81u);
  EXPECT_EQ(written["switcherStyle"], "row");
  EXPECT_EQ(written["titleSize"], "large");
  // Dictionary members that are neither integers nor lists of text are left out.
  EXPECT_EQ(written["hotkeyBinding2"], (Value{{"keyCode", 49}, {"flags", 524288}}));
  EXPECT_NE(exported.data->find("\"keyCode\": 48"), std::string::npos);
  EXPECT_NE(exported.data->find("\"cardSpacingExpo\": 1"), std::string::npos);
  EXPECT_LT(exported.data->find("\"animateFlight\""), exported.data->find("\"backdropColor\""));
  EXPECT_LT(exported.data->find("\"appVersion\""), exported.data->find("\"schemaVersion\""));
}

TEST_F(SettingsTransferTest, ExportReadsValuesByTheDefaultsType) {
  store.set(K::vimKeys, "no");            // Boolean reading
  store.set(K::scrollSpeed, "2.5");       // number reading
  store.set(K::backdropColor, 7);         // text reading of a number
  store.set(K::hiddenBundleIDs, 3);       // no list: the default
  store.set(K::cancelBinding, "F5");      // no dictionary: the default
  store.set(K::hiddenAppsDisplay, "Hide");  // no choice: what it reads as
  const auto exported = transfer.exportSettings(store);
  ASSERT_TRUE(exported.succeeded());
  const auto written = Value::parse(*exported.data)["settings"];
  EXPECT_EQ(written["vimKeys"], false);
  EXPECT_EQ(written["scrollSpeed"], 2.5);
  EXPECT_EQ(written["backdropColor"], "7");
  EXPECT_EQ(written["hiddenBundleIDs"], Value::array());
  EXPECT_EQ(written["cancelBinding"], Value::object());
  EXPECT_EQ(written["hiddenAppsDisplay"], "show");
}

TEST_F(SettingsTransferTest, RoundTripCarriesEveryKey) {
  store.set(K::vimKeys, false);
  store.set(K::blurAmount, 0.75);
  store.set(K::windowOrder, "alphabetical");
  store.set(K::hiddenBundleIDs, Words{"com.a", "com.b"});
  store.set(K::hiddenTitlePatterns, Value{{"com.a", Words{"secret"}}});
  store.set(K::hotkeyBinding2, Value{{"keyCode", 49}, {"flags", 1048576}});
  const auto exported = transfer.exportSettings(store);
  ASSERT_TRUE(exported.succeeded());

  DefaultsStore other;
  AppSettings otherSettings(other);
  otherSettings.registerDefaults();
  const auto imported = transfer.importSettings(*exported.data, other);
  ASSERT_TRUE(imported.succeeded());
  EXPECT_EQ(imported.written, 81);
  for (const auto& [key, value] : AppSettings::defaults()) {
    EXPECT_EQ(other.object(key), store.object(key)) << key;
  }
  // Back into the same store as well.
  EXPECT_EQ(transfer.importSettings(*exported.data, store).written, 81);
}

TEST_F(SettingsTransferTest, ImportConvertsToTheDefaultsTypeAndSkipsTheRest) {
  const Value file = {
      {"vimKeys", 1},                                                       // not a Boolean: skipped
      {"switcherStyle", "teacup"},                                          // no arrangement: skipped
      {"hotkeyBinding1", {{"keyCode", 49}, {"flags", 524288}}},             // integers
      {"hotkeyBinding2", {{"keyCode", 49.5}, {"flags", 524288}}},           // skipped
      {"cancelBinding", Value::object()},                                   // no shortcut
      {"blurAmount", 7},                                                    // no range check
      {"passThroughBundleIDs", Value::array({"com.a", 3})},                 // skipped
      {"hiddenTitlePatterns", {{"com.a", Value::array({"x", true})}}},     // skipped
      {"unknownKey", true},                                                 // ignored
  };
  const auto result = transfer.importSettings(fileWith(file), store);
  ASSERT_TRUE(result.succeeded());
  EXPECT_EQ(result.written, 3);
  EXPECT_FALSE(store.hasStoredValue(K::vimKeys));
  EXPECT_FALSE(store.hasStoredValue(K::switcherStyle));
  const auto binding = store.storedObject(K::hotkeyBinding1);
  ASSERT_TRUE(binding);
  EXPECT_TRUE((*binding)["keyCode"].is_number_integer());
  EXPECT_EQ(settings.hotkeyBinding(HotkeySlot::first), (HotkeyBinding{49, HotkeyBinding::optionFlag}));
  EXPECT_FALSE(store.hasStoredValue(K::hotkeyBinding2));
  EXPECT_EQ(store.storedObject(K::cancelBinding), Value::object());
  EXPECT_EQ(store.storedObject(K::blurAmount), Value(7.0));
  EXPECT_FALSE(store.hasStoredValue("unknownKey"));
}

TEST_F(SettingsTransferTest, ImportIntoTheProgramsStoreTidiesTheLists) {
  const Value file = {
      {"hiddenBundleIDs", Words{" com.a ", "com.a", "com.b"}},
      {"hiddenTitlePatterns", {{"com.a", Words{"Draft", "draft "}}, {"com.z", Words{"x"}}}},
  };
  int changes = 0;
  const Subscription watching = store.addObserver([&] { ++changes; });
  const auto result = transfer.importSettings(fileWith(file), store);
  EXPECT_EQ(result.written, 2);
  EXPECT_EQ(changes, 1);  // one change for the whole file
  EXPECT_EQ(store.storedObject(K::hiddenBundleIDs), Value(Words{"com.a", "com.b"}));
  EXPECT_EQ(store.storedObject(K::hiddenTitlePatterns), (Value{{"com.a", Words{"draft"}}}));
  EXPECT_FALSE(store.hasStoredValue(K::passThroughBundleIDs));  // not in the file: left alone

  DefaultsStore other;
  EXPECT_EQ(transfer.importSettings(fileWith(file), other).written, 2);
  EXPECT_EQ(other.storedObject(K::hiddenBundleIDs), Value(Words{" com.a ", "com.a", "com.b"}));
}

// An import changes what the file brings and nothing else: the store's own lists stay as they are
// (past the bounds of the settings window too), an enumerated value that names none of its cases
// is left out and the stored one kept, and an older name comes in as the case it names.
TEST_F(SettingsTransferTest, ImportChangesOnlyWhatItBrings) {
  Words hidden;  // more than the settings window would keep, in no order, with a blank
  for (int i = 299; i >= 0; --i) hidden.push_back("app" + std::to_string(i));
  hidden.push_back(" app7 ");
  const Value words = {{"app299", Words{"Secret"}}, {"app1", Words{"draft"}}, {"gone", Words{"x"}}};
  const Words passThrough = {"x11.b", " x11.a", "x11.b"};
  struct Case {
    const char* what;
    Value file;
    int written;
    std::map<std::string, Value> changed;  // the stored values that differ afterwards
    std::vector<SettingsTransfer::LeftOut> leftOut;
  };
  using Reason = SettingsTransfer::LeftOut::Reason;
  const std::vector<Case> cases = {
      {"a key beside the lists", {{"vimKeys", false}}, 1, {{K::vimKeys, false}}, {}},
      {"no choice", {{"switcherStyle", "banana"}, {"showTips", false}}, 1, {{K::showTips, false}},
       {{K::switcherStyle, Reason::notAChoice}}},
      {"the wrong letter case", {{"titleSize", "Small"}}, 0, {}, {{K::titleSize, Reason::notAChoice}}},
      {"an older name", {{"switcherStyle", "classicRing"}}, 1, {{K::switcherStyle, "flatRing"}}, {}},
      {"title words alone",
       {{"hiddenTitlePatterns", {{"app298", Words{" Inbox"}}, {"other", Words{"y"}}}}},
       1,
       {{K::hiddenTitlePatterns, {{"app298", Words{"inbox"}}}}},
       {}},
      {"hidden apps",
       {{"hiddenBundleIDs", Words{"app299", " app1", "app1", "new"}}},
       1,
       {{K::hiddenBundleIDs, Words{"app1", "app299", "new"}},
        {K::hiddenTitlePatterns, {{"app1", Words{"draft"}}, {"app299", Words{"secret"}}}}},
       {}},
      {"apps that keep the shortcut", {{"passThroughBundleIDs", Words{"x11.z", "x11.y "}}}, 1,
       {{K::passThroughBundleIDs, Words{"x11.y", "x11.z"}}}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    store.setMany({{K::switcherStyle, "flip3d"},
                   {K::titleSize, "large"},
                   {K::hiddenBundleIDs, hidden},
                   {K::hiddenTitlePatterns, words},
                   {K::passThroughBundleIDs, passThrough}});
    std::map<std::string, Value> expected = store.storedValues();
    for (const auto& [key, value] : c.changed) expected[key] = value;
    const auto result = transfer.importSettings(fileWith(c.file), store);
    ASSERT_TRUE(result.succeeded());
    EXPECT_EQ(result.written, c.written);
    EXPECT_EQ(result.leftOut, c.leftOut);
    EXPECT_EQ(store.storedValues(), expected);
    store.remove(K::vimKeys);
    store.remove(K::showTips);
  }
  EXPECT_EQ(settings.switcherStyle(), AppSettings::SwitcherStyle::flip3d);
}

TEST_F(SettingsTransferTest, RefusedFilesChangeNothing) {
  store.set(K::vimKeys, false);
  watch();
  const Value good = {{"vimKeys", true}};
  const Failure notSettings{Failure::Kind::notASettingsFile, 0};

  expectRefused(transfer.importSettings(fileWith(good, 2), store), {Failure::Kind::fromAnotherVersion, 2});
  expectRefused(transfer.importSettings("vimKeys = true", store), notSettings);
  expectRefused(transfer.importSettings("", store), notSettings);
  expectRefused(transfer.importSettings("[1, 2]", store), notSettings);
  expectRefused(transfer.importSettings(Value{{"schemaVersion", 1}, {"settings", good}}.dump(), store),
                notSettings);
  expectRefused(transfer.importSettings(fileWith(good, "1"), store), notSettings);
  expectRefused(transfer.importSettings(fileWith(good, 1.5), store), notSettings);
  expectRefused(transfer.importSettings(fileWith(Value::array({good})), store), notSettings);
  expectRefused(transfer.importSettings(fileWith({{"vimKeys", true}, {"showTips", nullptr}}), store),
                notSettings);
  expectRefused(
      transfer.importSettings(fileWith({{"vimKeys", true}, {"hiddenBundleIDs", Value::array({"a", nullptr})}}), store),
      notSettings);
  // A version from another release is judged only once the file reads as a settings file.
  expectRefused(transfer.importSettings(fileWith({{"vimKeys", nullptr}}, 2), store), notSettings);
  EXPECT_EQ(SettingsTransfer::message(notSettings), kNotASettingsFile);
  EXPECT_EQ(SettingsTransfer::message({Failure::Kind::fromAnotherVersion, 2}),
            "That file was written by a different version of Quorvel, so its settings cannot be read "
            "here. Nothing was changed.");
}

TEST_F(SettingsTransferTest, DeepNestingIsRefusedWithoutExhaustingTheStack) {
  watch();
  const size_t depth = 200000;
  std::string nested = std::string(depth, '[') + std::string(depth, ']');
  const std::string data = R"({"schemaVersion":1,"appVersion":"x","settings":{"hiddenBundleIDs":)" + nested + "}}";
  expectRefused(transfer.importSettings(data, store), {Failure::Kind::notASettingsFile, 0});
}

TEST_F(SettingsTransferTest, ImportFileRefusesDirectoriesAndLargeFiles) {
  watch();
  const Failure notSettings{Failure::Kind::notASettingsFile, 0};
  expectRefused(transfer.importFile(folder, store), notSettings);
  expectRefused(transfer.importFile(folder / "missing.json", store), notSettings);

  // A valid document padded past 1 MiB with blanks.
  const fs::path large = folder / "large.json";
  std::string padded = fileWith({{"vimKeys", false}});
  padded.append(SettingsTransfer::maximumFileSize + 1 - padded.size(), ' ');
  std::ofstream(large, std::ios::binary) << padded;
  expectRefused(transfer.importFile(large, store), notSettings);

  const fs::path pipe = folder / "pipe.json";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  expectRefused(transfer.importFile(pipe, store), notSettings);

  // Exactly at the limit is fine.
  padded.pop_back();
  std::ofstream(large, std::ios::binary | std::ios::trunc) << padded;
  const auto result = transfer.importFile(large, store);
  ASSERT_TRUE(result.succeeded());
  EXPECT_EQ(result.written, 1);
}

TEST_F(SettingsTransferTest, ExportFileReplacesTheOldFileWhole) {
  const fs::path target = folder / "settings.json";
  store.set(K::switcherStyle, "row");
  ASSERT_TRUE(transfer.exportToFile(store, target).succeeded());
  const std::string good = readAll(target);
  EXPECT_EQ(transfer.importFile(target, store).written, 81);

  store.set(K::switcherStyle, "expo");
  transfer.setWriteInterruptionForTesting([] { return false; });
  EXPECT_FALSE(transfer.exportToFile(store, target).succeeded());
  EXPECT_EQ(readAll(target), good);
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);

  transfer.setWriteInterruptionForTesting(nullptr);
  ASSERT_TRUE(transfer.exportToFile(store, target).succeeded());
  EXPECT_NE(readAll(target).find("\"expo\""), std::string::npos);
}

TEST_F(SettingsTransferTest, ExportFileFailsCleanlyWhereItCannotWrite) {
  const fs::path aside = folder / "taken";
  fs::create_directories(aside / "inside");
  const auto overFolder = transfer.exportToFile(store, aside);
  EXPECT_FALSE(overFolder.succeeded());
  EXPECT_FALSE(overFolder.error.empty());
  EXPECT_TRUE(fs::is_directory(aside / "inside"));
  EXPECT_FALSE(transfer.exportToFile(store, folder / "no" / "such" / "folder.json").succeeded());
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
}

TEST_F(SettingsTransferTest, ExportRefusesNumbersJsonCannotCarry) {
  store.set(K::scrollSpeed, Value(std::nan("")));
  const auto exported = transfer.exportSettings(store);
  EXPECT_FALSE(exported.succeeded());
  EXPECT_NE(exported.error.find("scrollSpeed"), std::string::npos);
}

}  // namespace
}  // namespace quorvel

namespace quorvel {
namespace {

// Each imported value is checked as the setting's own: a colour is a colour, texts and lists stay
// within their bounds. A value that is not is skipped, as one of the wrong type is; a list of more
// applications than it may hold is cut to the first it may.
TEST_F(SettingsTransferTest, ImportBoundsCheckEachValueAsItsSetting) {
  const std::string longId(TitlePatterns::maximumEntryLength + 1, 'a');
  auto ids = [](size_t count) {
    Words list;
    for (size_t i = 0; i < count; ++i) list.push_back("app" + std::to_string(i));
    return list;
  };
  const std::vector<std::pair<Value, int>> cases = {
      {{{"backdropColor", std::string(1'048'000, 'f')}}, 0},
      {{{"backdropColor", "#12345g"}}, 0},
      {{{"backdropColor", "#a0b1c2"}}, 1},
      {{{"switcherStyle", "noArrangement"}}, 0},  // enumerations take their cases only
      {{{"switcherStyle", std::string(SettingsTransfer::maximumTextLength + 1, 'x')}}, 0},
      {{{"hiddenBundleIDs", ids(TitlePatterns::maximumEntries)}}, 1},
      {{{"hiddenBundleIDs", ids(TitlePatterns::maximumEntries + 1)}}, 1},  // cut to the first it may hold
      {{{"passThroughBundleIDs", Words{"x11.vmware", longId}}}, 0},
      {{{"passThroughBundleIDs", Words{"x11.vm\nware"}}}, 0},
      {{{"hiddenTitlePatterns", {{"app", Words(TitlePatterns::maximumWords + 1, "w")}}}}, 0},
      {{{"hiddenTitlePatterns", {{"app", Words{std::string(TitlePatterns::maximumWordLength + 1, 'w')}}}}}, 0},
      {{{"hotkeyBinding1", {{"a", 1}, {"b", 2}, {"c", 3}, {"d", 4}, {"e", 5}, {"f", 6}, {"g", 7}, {"h", 8}, {"i", 9}}}},
       0},
  };
  for (const auto& [settingsInFile, expected] : cases) {
    SCOPED_TRACE(settingsInFile.dump().substr(0, 120));
    DefaultsStore fresh;
    AppSettings freshSettings{fresh};
    freshSettings.registerDefaults();
    const auto result = SettingsTransfer(freshSettings).importSettings(fileWith(settingsInFile), fresh);
    ASSERT_TRUE(result.succeeded());
    EXPECT_EQ(result.written, expected);
  }
}

// A store that cannot save what came in says so; a change too large to save is undone so that the
// changes after it are saved again.
TEST_F(SettingsTransferTest, ImportBoundsAFailedSaveIsReported) {
  const fs::path config = folder / "config";
  DefaultsStore saved(config / "defaults.json");
  AppSettings savedSettings{saved};
  savedSettings.registerDefaults();
  saved.set(K::vimKeys, true);
  fs::rename(config, folder / "moved");
  std::ofstream(config) << "not a folder";
  const auto result = SettingsTransfer(savedSettings).importSettings(fileWith({{"vimKeys", false}}), saved);
  EXPECT_EQ(result.written, 1);
  EXPECT_FALSE(result.saved);
  fs::remove(config);
  fs::rename(folder / "moved", config);

  saved.set("huge", std::string(DefaultsStore::maximumFileSize, 'x'));
  EXPECT_FALSE(saved.lastWriteSucceeded());
  EXPECT_FALSE(saved.hasStoredValue("huge"));
  saved.set(K::titleSize, "small");
  EXPECT_TRUE(saved.lastWriteSucceeded());
  EXPECT_EQ(DefaultsStore(config / "defaults.json").string(K::titleSize), "small");
}

// Whatever the store holds, at the bounds or far past them (a hand edit), its export is small enough
// to be read back, and reading it back brings in every key.
TEST_F(SettingsTransferTest, ImportBoundsExportAndImportAgree) {
  // The largest values the bounds let in, each character one that JSON writes as two.
  auto worst = [](size_t length, size_t i) {
    std::string text = std::to_string(i);
    text.resize(length, '"');
    return text;
  };
  Words ids;
  TitlePatterns::Patterns patterns;
  for (size_t i = 0; i < TitlePatterns::maximumEntries; ++i) {
    ids.push_back(worst(TitlePatterns::maximumEntryLength, i));
    for (size_t w = 0; w < TitlePatterns::maximumWords; ++w) {
      patterns[ids.back()].push_back(worst(TitlePatterns::maximumWordLength, w));
    }
  }
  // In their canonical form, as the settings window writes them.
  ids = TitlePatterns::canonicalIdentifiers(ids);
  std::map<std::string, Value> atTheBounds = {
      {K::hiddenBundleIDs, ids},
      {K::passThroughBundleIDs, ids},
      {K::hiddenTitlePatterns, TitlePatterns::titlePatternsValue(TitlePatterns::restrictedTitlePatterns(patterns, ids))}};
  for (const auto& entry : AppSettings::defaultEntries()) {
    if (entry.type == AppSettings::ValueType::text && entry.cases.size() > 0) {
      atTheBounds[entry.key] = worst(SettingsTransfer::maximumTextLength, 0);
    }
  }
  Words many;
  for (int i = 0; i < 80'000; ++i) many.push_back("org.example.app" + std::to_string(i));
  const std::map<std::string, Value> pastThem = {{K::hiddenBundleIDs, many},
                                                 {K::backdropColor, std::string(1'048'000, 'f')},
                                                 {K::switcherStyle, std::string(100'000, 'r')}};
  for (const auto& values : {atTheBounds, pastThem}) {
    DefaultsStore from;
    AppSettings fromSettings{from};
    fromSettings.registerDefaults();
    from.setMany(values);
    const auto exported = SettingsTransfer(fromSettings).exportSettings(from);
    ASSERT_TRUE(exported.succeeded()) << exported.error;
    EXPECT_LE(exported.data->size(), SettingsTransfer::maximumFileSize);
    const fs::path file = folder / "exported.json";
    std::ofstream(file, std::ios::trunc) << *exported.data;

    DefaultsStore into;
    AppSettings intoSettings{into};
    intoSettings.registerDefaults();
    const auto result = SettingsTransfer(intoSettings).importFile(file, into);
    ASSERT_TRUE(result.succeeded());
    EXPECT_EQ(result.written, 81);
    EXPECT_TRUE(SettingsTransfer(intoSettings).exportSettings(into).data == exported.data) << "exported again, it differs";
  }
}

}  // namespace
}  // namespace quorvel
