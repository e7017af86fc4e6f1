#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>

#include "app/BuildProvenance.h"
#include "app/CommandLine.h"
#include "app/LoginItem.h"
#include "app/UpdateController.h"
#include "base/LogCapture.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using Kind = BuildProvenance::Kind;

TEST(BuildProvenance, KindFromHowTheBuildWasMadeAndWhereItRunsAndItsVersionText) {
  EXPECT_EQ(BuildProvenance::detect({.releaseBuild = false, .installed = true}), Kind::unsignedBuild);
  EXPECT_EQ(BuildProvenance::detect({.releaseBuild = true, .installed = false}), Kind::local);
  EXPECT_EQ(BuildProvenance::detect({.releaseBuild = true, .installed = true}), Kind::released);
  EXPECT_FALSE(BuildProvenance::isInstalled("/src/q/build/release/quorvel", "/src/q/build/release"));
  EXPECT_FALSE(BuildProvenance::isInstalled("/src/q/build/release/sub/../quorvel", "/src/q/build/release/"));
  EXPECT_TRUE(BuildProvenance::isInstalled("/usr/local/bin/quorvel", "/src/q/build/release"));
  EXPECT_TRUE(BuildProvenance::isInstalled("/src/q/build/release-2/quorvel", "/src/q/build/release"));

  EXPECT_EQ(BuildProvenance::describe(Kind::released, "2.1", "57"), std::nullopt);
  EXPECT_EQ(BuildProvenance::describe(Kind::local, "2.1", "57"), "local build \u00b7 2.1 (57)");
  EXPECT_EQ(BuildProvenance::describe(Kind::local, "2.1", "0"), "local build \u00b7 2.1 \u00b7 built by hand");
  EXPECT_EQ(BuildProvenance::describe(Kind::unsignedBuild, "2.1", std::nullopt), "unsigned build \u00b7 2.1 (?)");
  EXPECT_EQ(BuildProvenance::describe(Kind::unsignedBuild, std::nullopt, "0"),
            "unsigned build \u00b7 ? \u00b7 built by hand");

  // A test runs in its build folder: whatever the build, it is no release and always has a text.
  EXPECT_NE(BuildProvenance::current(), Kind::released);
  ASSERT_TRUE(BuildProvenance::description());
}

TEST(UpdateController, WithoutAFeedItLogsOnceAndOffersNoCheck) {
  // A release build never speaks of a debug build or a feed.
  for (const auto& [debug, line] :
       {std::pair{true, "No appcast URL, so no update checks. This is expected in a Debug build."},
        std::pair{false, "Updates come from the package manager; Quorvel checks for none itself."}}) {
    LogCapture logs;
    UpdateController updates(debug);
    updates.start();
    EXPECT_EQ(logs.messages("updates"), std::vector<std::string>{line});
    EXPECT_FALSE(updates.hasUpdater());
  }
}

class LoginItemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/quorvel-login-XXXXXX";
    ASSERT_TRUE(mkdtemp(pattern));
    root = pattern;
    const char* old = std::getenv("XDG_CONFIG_HOME");
    if (old) savedConfigHome = old;
    setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
  }
  void TearDown() override {
    if (savedConfigHome) {
      setenv("XDG_CONFIG_HOME", savedConfigHome->c_str(), 1);
    } else {
      unsetenv("XDG_CONFIG_HOME");
    }
    std::error_code error;
    fs::permissions(root / "config", fs::perms::owner_all, error);
    fs::remove_all(root, error);
  }
  static std::string read(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  fs::path root;
  std::optional<std::string> savedConfigHome;
};

TEST_F(LoginItemTest, EntryIsWrittenAndRemovedInTheAutostartFolder) {
  EXPECT_EQ(LoginItem::defaultFolder(), root / "config" / "autostart");
  LoginItem item(LoginItem::defaultFolder(), "/opt/My Apps/quorvel");
  EXPECT_FALSE(item.isEnabled());

  EXPECT_EQ(item.setEnabled(true), (LoginItem::Result{true, std::nullopt}));
  const fs::path entry = root / "config" / "autostart" / "quorvel.desktop";
  ASSERT_TRUE(fs::exists(entry));
  const std::string text = read(entry);
  EXPECT_NE(text.find("[Desktop Entry]\n"), std::string::npos);
  EXPECT_NE(text.find("Exec=\"/opt/My Apps/quorvel\"\n"), std::string::npos) << text;
  EXPECT_NE(text.find(std::string("Icon=") + LoginItem::kIconName + "\n"), std::string::npos) << text;
  // The desktop's own checker accepts the entry as written.
  if (std::system("command -v desktop-file-validate >/dev/null") == 0) {
    EXPECT_EQ(std::system(("desktop-file-validate '" + entry.string() + "'").c_str()), 0) << text;
  }
  EXPECT_TRUE(item.isEnabled());
  EXPECT_EQ(std::distance(fs::directory_iterator(entry.parent_path()), fs::directory_iterator()), 1)
      << "no temporary file is left beside the entry";

  EXPECT_EQ(item.setEnabled(false), (LoginItem::Result{false, std::nullopt}));
  EXPECT_FALSE(fs::exists(entry));
  EXPECT_EQ(item.setEnabled(false), (LoginItem::Result{false, std::nullopt})) << "already off is no failure";
}

TEST_F(LoginItemTest, ReportsTheRealStateWhenTheFolderRefuses) {
  const fs::path folder = root / "config" / "autostart";
  LoginItem item(folder, "/usr/bin/quorvel");
  ASSERT_EQ(item.setEnabled(true).enabled, true);

  // An entry the desktop's own settings switched off counts as off.
  std::ofstream(item.entryPath()) << "[Desktop Entry]\nType=Application\nExec=quorvel\nHidden=true\n";
  EXPECT_FALSE(item.isEnabled());

  // Where the folder should be lies a file: nothing can be written.
  LoginItem blocked(root / "config" / "blocked", "/usr/bin/quorvel");
  std::ofstream(root / "config" / "blocked") << "not a folder";
  EXPECT_EQ(blocked.setEnabled(true), (LoginItem::Result{false, LoginItem::kCannotEnable}));

  if (geteuid() == 0) GTEST_SKIP() << "root writes into read-only folders";
  ASSERT_TRUE(item.setEnabled(true).enabled);
  fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
  EXPECT_EQ(item.setEnabled(false), (LoginItem::Result{true, LoginItem::kCannotDisable}));
  EXPECT_TRUE(fs::exists(item.entryPath()));
  fs::permissions(folder, fs::perms::owner_all);
  ASSERT_FALSE(item.setEnabled(false).enabled);
  fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
  EXPECT_EQ(item.setEnabled(true), (LoginItem::Result{false, LoginItem::kCannotEnable}));
  fs::permissions(folder, fs::perms::owner_all);
}

// A named pipe at the entry (or at its temporary name) is never opened: opening one waits for a
// writer that may never come, and the program would hang at start.
TEST_F(LoginItemTest, ANamedPipeAtTheEntryIsNeverOpened) {
  const fs::path folder = root / "config" / "autostart";
  fs::create_directories(folder);
  LoginItem item(folder, "/usr/bin/quorvel");
  ASSERT_EQ(::mkfifo(item.entryPath().c_str(), 0644), 0);
  ASSERT_EQ(::mkfifo((folder / ".quorvel.desktop.tmp").c_str(), 0644), 0);
  // Run where a hang can be seen and ended: a writer opening the pipe lets a blocked reader go.
  auto bounded = [&](auto call) {
    auto result = std::async(std::launch::async, call);
    if (result.wait_for(std::chrono::seconds(5)) == std::future_status::timeout) {
      for (const auto& name : {item.entryPath(), folder / ".quorvel.desktop.tmp"}) {
        int fd = ::open(name.c_str(), O_RDWR | O_NONBLOCK);
        if (fd >= 0) ::close(fd);
      }
      ADD_FAILURE() << "the login entry's pipe was opened";
    }
    return result.get();
  };
  EXPECT_FALSE(bounded([&] { return item.isEnabled(); }));
  EXPECT_EQ(bounded([&] { return item.setEnabled(true); }), (LoginItem::Result{true, std::nullopt}));
  EXPECT_TRUE(fs::is_regular_file(item.entryPath()));
  fs::remove(item.entryPath());
  ASSERT_EQ(::mkfifo(item.entryPath().c_str(), 0644), 0);
  EXPECT_EQ(bounded([&] { return item.setEnabled(false); }), (LoginItem::Result{false, std::nullopt}));
  EXPECT_FALSE(fs::exists(fs::symlink_status(item.entryPath())));
}

TEST(LoginItemExec, ArgumentsAreQuotedAsDesktopEntriesRequire) {
  EXPECT_EQ(LoginItem::quoteExecArgument("/usr/bin/quorvel"), "/usr/bin/quorvel");
  EXPECT_EQ(LoginItem::quoteExecArgument("/a b/q"), "\"/a b/q\"");
  EXPECT_EQ(LoginItem::quoteExecArgument("/a$b/100%"), "\"/a\\\\$b/100%%\"");
}

TEST(CommandLine, HelpAndVersionExitAtOnceAndAMistakeGetsTheUsageOnStandardError) {
  using R = CommandLine::Request;
  const struct {
    std::vector<const char*> arguments;
    R request;
    std::optional<int> status;
    bool printsUsage, printsVersion, printsError;
  } cases[] = {
      {{}, R::run, std::nullopt, false, false, false},
      {{"--help"}, R::help, 0, true, false, false},
      {{"-h"}, R::help, 0, true, false, false},
      {{"--version"}, R::version, 0, false, true, false},
      {{"-V"}, R::version, 0, false, true, false},
      {{"--help", "--version"}, R::help, 0, true, false, false},
      {{"--frobnicate"}, R::mistake, 2, false, false, true},
      {{"--version", "-x"}, R::mistake, 2, false, false, true},
      {{"settings"}, R::mistake, 2, false, false, true},
      {{"--help=yes"}, R::mistake, 2, false, false, true},
  };
  for (const auto& c : cases) {
    std::vector<const char*> argv{"quorvel"};
    argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
    std::vector<std::string_view> views(c.arguments.begin(), c.arguments.end());
    const std::string label = c.arguments.empty() ? "none" : c.arguments.front();
    EXPECT_EQ(CommandLine::parse(views).request, c.request) << label;
    char* outText = nullptr;
    char* errText = nullptr;
    size_t outSize = 0, errSize = 0;
    FILE* out = open_memstream(&outText, &outSize);
    FILE* err = open_memstream(&errText, &errSize);
    EXPECT_EQ(CommandLine::answer(int(argv.size()), argv.data(), out, err), c.status) << label;
    std::fclose(out);
    std::fclose(err);
    const std::string printed(outText, outSize), complained(errText, errSize);
    std::free(outText);
    std::free(errText);
    EXPECT_EQ(printed.starts_with("Usage: quorvel"), c.printsUsage) << label;
    EXPECT_EQ(printed == CommandLine::versionText(), c.printsVersion) << label;
    EXPECT_EQ(!complained.empty(), c.printsError) << label;
    if (c.printsError) {
      EXPECT_TRUE(complained.starts_with("quorvel: ")) << complained;
      EXPECT_NE(complained.find("Usage: quorvel"), std::string::npos);
    }
  }
  // The version the build was given, never a placeholder.
  EXPECT_TRUE(CommandLine::versionText().starts_with("quorvel 0.")) << CommandLine::versionText();
}

}  // namespace
}  // namespace quorvel
