#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <set>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "base/ObserverList.h"
#include "settings_ui/GeneralPane.h"
#include "settings_ui/SettingNames.h"
#include "settings_ui/SettingsUiFixture.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using K = AppSettings::Key;

std::string readAll(const fs::path& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class GeneralPaneTest : public SettingsUiTest {
 protected:
  GeneralPaneTest() {
    fs::remove_all(folder);
    fs::create_directories(folder);
    services.dialogs.chooseExportFile = [this] { return chosen; };
    services.dialogs.chooseImportFile = [this] { return chosen; };
    services.dialogs.confirmRestore = [this] { return confirm; };
  }
  ~GeneralPaneTest() override {
    pane_.reset();
    std::error_code ignored;
    fs::remove_all(folder, ignored);
  }
  std::optional<TransferReport> importText(const std::string& text) {
    std::ofstream(folder / "in.json") << text;
    chosen = folder / "in.json";
    return pane().fileFlows().importSettings();
  }
  GeneralPane& pane() {
    if (!pane_) pane_ = std::make_unique<GeneralPane>(bindings, services);
    return *pane_;
  }

  // One folder per test and process: ctest runs the tests side by side.
  const fs::path folder = fs::path(::testing::TempDir()) /
                          ("quorvel-general-pane-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
                           "-" + std::to_string(::getpid()));
  std::optional<fs::path> chosen;
  bool confirm = false;
  SettingsBindings bindings{settings, loop.main()};
  std::unique_ptr<GeneralPane> pane_;
};

TEST_F(GeneralPaneTest, ExportWritesAWholeFileOrLeavesTheOldOneWhole) {
  chosen.reset();
  EXPECT_EQ(pane().fileFlows().exportSettings(), std::nullopt);  // cancelled: nothing shown
  chosen = folder / "Quorvel Settings.json";
  std::ofstream(*chosen) << "the old copy";
  pane().fileFlows().setExportInterruptionForTesting([] { return false; });  // the write fails midway
  const std::optional<TransferReport> failed = pane().fileFlows().exportSettings();
  ASSERT_TRUE(failed);
  EXPECT_EQ(failed->title, "Could not save your settings");
  EXPECT_EQ(readAll(*chosen), "the old copy");
  pane().fileFlows().setExportInterruptionForTesting(nullptr);
  EXPECT_EQ(pane().fileFlows().exportSettings(), std::nullopt);
  EXPECT_NE(readAll(*chosen).find("\"schemaVersion\""), std::string::npos);
  chosen = folder / "no-such-folder" / "x.json";
  EXPECT_TRUE(pane().fileFlows().exportSettings());
}

// What came in, what was left out and why, or why nothing did: a file that brings nothing is no success.
TEST_F(GeneralPaneTest, ImportReportsWhatCameInOrWhyNothingDid) {
  const std::string unreadable = "That file could not be read as a Quorvel settings file. Nothing was changed.";
  const std::string mentioned = " from that file. Everything the file did not mention was left as it was.";
  auto file = [](const nlohmann::json& settings) {
    return nlohmann::json{{"schemaVersion", 1}, {"appVersion", "1"}, {"settings", settings}}.dump();
  };
  std::vector<std::string> apps;
  for (int i = 0; i < 350; ++i) apps.push_back("app" + std::to_string(i));
  nlohmann::json unknown = nlohmann::json::object();
  for (const std::string& key : {std::string("a"), std::string("b"), std::string("c"), std::string("d"),
                                  "k\n" + std::string(45, 'k'), std::string("z")}) {
    unknown[key] = 1;
  }
  struct Case {
    std::string text;
    std::string title, message;
  };
  const std::vector<Case> cases = {
      {file({{"vimKeys", true}}), "Settings brought in", "1 setting came in" + mentioned},
      {file({{"vimKeys", true}, {"switcherStyle", "row"}}), "Settings brought in", "2 settings came in" + mentioned},
      {file({{"backdropColor", std::string(1'048'000, 'f')}}), "Nothing brought in",
       "No setting came in from that file. Nothing was changed. Left out: the backdrop color (its value is too large)."},
      {file({{"showTips", "yes"}, {"backdropColor", "#12345g"}, {"noSuchKey", 1}, {"blurAmount", true}}),
       "Nothing brought in",
       "No setting came in from that file. Nothing was changed. Left out: the blur amount (its value is not a "
       "number), the backdrop color (its value is not a color), the tips (its value is not true or false) and "
       "\u201cnoSuchKey\u201d (no such setting in this version)."},
      {file({{"switcherStyle", "banana"}, {"titleSize", "small"}}), "Settings brought in",
       "1 setting came in" + mentioned + " Left out: the arrangement (not one of its choices)."},
      {file({{"hiddenBundleIDs", apps},
             {"passThroughBundleIDs", {"x11.vm\nware"}},
             {"hotkeyBinding1", {{"a", 1}, {"b", 2}, {"c", 3}, {"d", 4}, {"e", 5}, {"f", 6}, {"g", 7}, {"h", 8}, {"i", 9}}},
             {"vimKeys", true}}),
       "Settings brought in",
       "2 settings came in" + mentioned +
           " Left out: the keyboard shortcut (its value is too large), the apps to hide (trimmed to 200 of its 350 "
           "apps) and the apps that keep the shortcut (its value holds control characters)."},
      {file(unknown), "Nothing brought in",
       "No setting came in from that file. Nothing was changed. Left out: \u201ca\u201d (no such setting in this "
       "version), \u201cb\u201d (no such setting in this version), \u201cc\u201d (no such setting in this version), "
       "\u201cd\u201d (no such setting in this version), \u201ck?" + std::string(38, 'k') +
           "\u2026\u201d (no such setting in this version) and 1 more."},
      {file(nlohmann::json::object()), "Nothing brought in", "That file holds no settings. Nothing was changed."},
      {R"({"schemaVersion":2,"appVersion":"9","settings":{}})", "Could not read that file",
       "That file was written by a different version of Quorvel, so its settings cannot be read here. Nothing was "
       "changed."},
      {"plain words", "Could not read that file", unreadable},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 200));
    const auto before = store.storedValues();
    const std::optional<TransferReport> report = importText(c.text);
    ASSERT_TRUE(report);
    EXPECT_EQ(report->title, c.title);
    EXPECT_EQ(report->message, c.message);
    if (c.title != "Settings brought in") {
      EXPECT_EQ(store.storedValues(), before);
    }
  }
  EXPECT_EQ(store.object(K::hiddenBundleIDs)->size(), 200u);
  EXPECT_TRUE(store.boolValue(K::vimKeys));
  EXPECT_EQ(store.string(K::switcherStyle), "row");
  // A FIFO would block the read; a 2 GB file would fill the memory: both are refused unread.
  chosen = folder / "fifo.json";
  ASSERT_EQ(::mkfifo(chosen->c_str(), 0600), 0);
  EXPECT_EQ(pane().fileFlows().importSettings(), (TransferReport{"Could not read that file", unreadable}));
  chosen = folder / "huge.json";
  { std::ofstream(*chosen) << "{"; }
  fs::resize_file(*chosen, uintmax_t{2} << 30);
  EXPECT_EQ(pane().fileFlows().importSettings(), (TransferReport{"Could not read that file", unreadable}));
}

// Every setting has words of its own for the messages that name it; a key that is no setting has none.
TEST(SettingNamesTest, EverySettingHasWordsOfItsOwn) {
  std::set<std::string> seen;
  for (const SettingsSchema::Entry& entry : SettingsSchema::entries()) {
    const std::optional<std::string> words = SettingNames::inSentence(entry.key);
    ASSERT_TRUE(words) << entry.key;
    // Words to stand inside a sentence, not the key again.
    EXPECT_TRUE(!words->empty() && std::islower(static_cast<unsigned char>(words->front())) && *words != entry.key)
        << *words;
    EXPECT_TRUE(seen.insert(*words).second) << "named twice: " << *words;
  }
  EXPECT_EQ(SettingNames::inSentence("noSuchKey"), std::nullopt);
  EXPECT_EQ(SettingNames::inSentence(AppSettings::Key::hasRescaledAnimationSpeed), std::nullopt);
}

TEST_F(GeneralPaneTest, RestoreAsksFirstAndLeavesTheLoginItemAlone) {
  store.set(K::switcherStyle, "row");
  store.set("settingsTab", "general");
  confirm = false;
  EXPECT_FALSE(pane().fileFlows().restoreDefaults());
  EXPECT_EQ(store.string(K::switcherStyle), "row");
  confirm = true;
  EXPECT_TRUE(pane().fileFlows().restoreDefaults());
  EXPECT_FALSE(store.hasStoredValue(K::switcherStyle));
  EXPECT_EQ(store.string("settingsTab"), "general");
}

// A restore (or an import) that brings back a shortcut another program holds says so under its
// button, and the note goes once the keys are free.
TEST_F(GeneralPaneTest, AShortcutBroughtBackTakenIsSaidUnderTheButton) {
  bool taken = true;
  services.shortcutTaken = [&](const HotkeyBinding& binding) -> std::optional<AdviceText> {
    if (!taken || binding != HotkeyBinding{48, HotkeyBinding::optionFlag}) return std::nullopt;
    ShortcutAdvice::Findings found;
    found.managerHolds = false;
    return ShortcutAdvice::advice("Openbox", "Alt+Tab", found);
  };
  ObserverList<> owners;
  services.observeShortcutOwners = [&](std::function<void()> observer) { return owners.add(std::move(observer)); };
  settings.setHotkeyBinding(HotkeyBinding{40, HotkeyBinding::controlFlag | HotkeyBinding::optionFlag}, HotkeySlot::first);
  confirm = true;
  pane().restoreDefaults();
  EXPECT_FALSE(pane().restoreNote()->isHidden());
  // The holder the advice names, not the window manager its bindings leave it to.
  EXPECT_TRUE(pane().restoreNote()->text().startsWith(
      "Your shortcut is Alt+Tab now, and it is held by another program, not by the window manager, so"));
  EXPECT_TRUE(pane().importNote()->isHidden());
  taken = false;
  owners.notify();
  EXPECT_TRUE(pane().restoreNote()->isHidden());

  // An import that changes no shortcut says nothing; one that brings the taken one back does.
  taken = true;
  pane_.reset();
  std::ofstream(folder / "in.json") << R"({"schemaVersion":1,"appVersion":"1","settings":{"vimKeys":true}})";
  chosen = folder / "in.json";
  pane().reportHook = [](const TransferReport&) {};
  pane().importSettings();
  EXPECT_TRUE(pane().importNote()->isHidden());
  settings.setHotkeyBinding(HotkeyBinding{40, HotkeyBinding::controlFlag}, HotkeySlot::first);
  std::ofstream(folder / "in.json") << R"({"schemaVersion":1,"appVersion":"1","settings":{"hotkeyBinding1":{"keyCode":48,"flags":524288}}})";
  pane().importSettings();
  EXPECT_FALSE(pane().importNote()->isHidden());
}

TEST_F(GeneralPaneTest, OneLoginItemCallPerChangeAndARefusalShowsTheRealState) {
  int calls = 0;
  bool refuse = true;
  services.loginItemEnabled = [] { return false; };
  services.setLoginItem = [&](bool wanted) {
    ++calls;
    return refuse ? LoginItem::Result{!wanted, LoginItem::kCannotEnable} : LoginItem::Result{wanted, std::nullopt};
  };
  QCheckBox* toggle = pane().loginToggle();
  EXPECT_FALSE(toggle->isChecked());
  toggle->click();  // refused
  EXPECT_EQ(calls, 1);
  EXPECT_FALSE(toggle->isChecked());
  EXPECT_EQ(pane().loginMessage()->text().toStdString(), LoginItem::kCannotEnable);
  EXPECT_FALSE(pane().loginMessage()->isHidden());
  refuse = false;
  toggle->click();
  EXPECT_EQ(calls, 2);
  EXPECT_TRUE(toggle->isChecked());
  EXPECT_TRUE(pane().loginMessage()->isHidden());
}

}  // namespace
}  // namespace quorvel
