// The settings folder's lock and the journal: the lock lies only in a folder of the user's own, and
// a change still waiting when a store ends reaches the next start, whoever holds the lock.

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <charconv>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>

#include "base/DefaultsFile.h"
#include "base/DefaultsStore.h"
#include "base/LogCapture.h"
#include "StoreTestFiles.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using Value = DefaultsStore::Value;
using Environment = std::map<std::string, std::optional<std::string>>;
constexpr uid_t nobody = 65534;

struct Folder : storetest::Folder {
  Folder() : storetest::Folder("lock", 0755) {}
};

using storetest::readBytes;

using storetest::writeBytes;

std::vector<std::string> namesStartingWith(const fs::path& folder, const std::string& prefix) {
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    if (it->path().filename().string().rfind(prefix, 0) == 0) names.push_back(it->path().filename());
  }
  return names;
}

// Sets environment variables for the life of the object, then restores them.
class ScopedEnvironment {
 public:
  explicit ScopedEnvironment(const Environment& values) {
    for (const auto& [name, value] : values) {
      const char* old = std::getenv(name.c_str());
      old_[name] = old ? std::optional<std::string>(old) : std::nullopt;
      set(name, value);
    }
  }
  ~ScopedEnvironment() {
    for (const auto& [name, value] : old_) set(name, value);
  }
  static void set(const std::string& name, const std::optional<std::string>& value) {
    if (value) {
      ::setenv(name.c_str(), value->c_str(), 1);
    } else {
      ::unsetenv(name.c_str());
    }
  }

 private:
  Environment old_;
};

// Runs `body` in a child process of the ordinary user `nobody`, with `environment`; what went wrong
// there ("" when nothing did). The test itself, root, plays the other user.
std::string asOrdinaryUser(const Environment& environment, const std::function<std::string()>& body) {
  int report[2];
  if (::pipe(report) != 0) return "no pipe";
  const pid_t child = ::fork();
  if (child < 0) return "no fork";
  if (child == 0) {
    ::close(report[0]);
    std::string result;
    if (::setgroups(0, nullptr) != 0 || ::setgid(nobody) != 0 || ::setuid(nobody) != 0) {
      result = "could not become an ordinary user";
    } else {
      for (const auto& [name, value] : environment) ScopedEnvironment::set(name, value);
      result = body();
    }
    if (::write(report[1], result.data(), result.size()) < 0) ::_exit(1);
    ::_exit(0);
  }
  ::close(report[1]);
  std::string result;
  char buffer[512];
  for (ssize_t n; (n = ::read(report[0], buffer, sizeof buffer)) > 0;) result.append(buffer, static_cast<size_t>(n));
  ::close(report[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) result += " (the child ended abnormally)";
  return result;
}

// In the child: the store holds a lock file in `expected`, and a change that cannot be saved
// before the store ends is there at the next start.
std::string lockAndJournal(const fs::path& file, const fs::path& expected) {
  writeBytes(file, R"({"style": "row"})");
  {
    DefaultsStore store(file);
    // A lock held on any byte of the lock file there.
    const int fd = ::open((expected / "quorvel-settings.lock").c_str(), O_RDWR | O_CLOEXEC);
    struct flock range {};
    range.l_type = F_WRLCK;
    range.l_whence = SEEK_SET;
    const bool asked = fd >= 0 && ::fcntl(fd, F_OFD_GETLK, &range) == 0;
    if (fd >= 0) ::close(fd);
    if (!asked) return "no lock file in " + expected.string();
    if (range.l_type != F_WRLCK) return "the lock file in " + expected.string() + " is not held";
    store.setWriteInterruptionForTesting([] { return false; });
    store.set("titleSize", "small");
    if (store.lastWriteSucceeded()) return "the interrupted save succeeded";
  }
  DefaultsStore next(file);
  if (next.string("titleSize") != "small") return "the waiting change was lost";
  if (Value::parse(readBytes(file), nullptr, false) != Value{{"style", "row"}, {"titleSize", "small"}}) {
    return "not saved";
  }
  return {};
}

size_t linesWith(const LogCapture& capture, const std::string& text) {
  size_t count = 0;
  for (const auto& message : capture.messages("DefaultsStore")) count += message.find(text) != std::string::npos;
  return count;
}

std::string hex(size_t value) {
  char buffer[32];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, 16);
  return std::string(buffer, end);
}

// Whatever another user does to the runtime folder or to names in the shared temporary folder, the
// lock is taken in a folder of the user's own, and a change waiting at the end survives.
TEST(DefaultsStoreLock, TheLockLiesOnlyInAFolderOfTheUsersOwn) {
  if (::geteuid() != 0) GTEST_SKIP() << "another user is played by root";
  struct Case {
    const char* label;
    // Made by root (the other user) before the store starts; returns XDG_RUNTIME_DIR.
    std::function<std::optional<std::string>(const fs::path& base, const fs::path& settingsFolder)> prepare;
    Environment environment;
    const char* expected;  // below the base folder
  };
  const auto ownedBy = [](const fs::path& folder, uid_t owner, mode_t mode) {
    fs::create_directories(folder);
    EXPECT_EQ(::chown(folder.c_str(), owner, owner), 0);
    EXPECT_EQ(::chmod(folder.c_str(), mode), 0);
    return folder.string();
  };
  std::vector<fs::path> premade;
  const std::vector<Case> cases = {
      {"no runtime folder, and its name in the shared temporary folder made first by another user",
       [&](const fs::path&, const fs::path& settings) -> std::optional<std::string> {
         const fs::path name = fs::path("/tmp") / ("quorvel-settings-" + std::to_string(nobody) + "-" +
                                                   hex(DefaultsFile::hashOf(fs::canonical(settings).string())) +
                                                   ".lock");
         writeBytes(name, "");
         ::chmod(name.c_str(), 0);
         premade.push_back(name);
         return std::nullopt;
       },
       {},
       "home/.local/state/quorvel"},
      {"a runtime folder that is missing",
       [](const fs::path& base, const fs::path&) -> std::optional<std::string> { return (base / "gone").string(); },
       {},
       "home/.local/state/quorvel"},
      {"a read-only runtime folder",
       [&](const fs::path& base, const fs::path&) -> std::optional<std::string> {
         return ownedBy(base / "run", nobody, 0500);
       },
       {},
       "home/.local/state/quorvel"},
      {"a runtime folder of another user's, open to all",
       [&](const fs::path& base, const fs::path&) -> std::optional<std::string> {
         return ownedBy(base / "run", 0, 0777);
       },
       {},
       "home/.local/state/quorvel"},
      {"a runtime folder the group may write into",
       [&](const fs::path& base, const fs::path&) -> std::optional<std::string> {
         return ownedBy(base / "run", nobody, 0770);
       },
       {},
       "home/.local/state/quorvel"},
      {"no runtime folder, and the state folder made first by another user",
       [&](const fs::path& base, const fs::path&) -> std::optional<std::string> {
         ownedBy(base / "state", nobody, 0700);
         ownedBy(base / "state" / "quorvel", 0, 0777);
         return std::nullopt;
       },
       {{"XDG_STATE_HOME", "@/state"}},
       "home/.cache/quorvel"},
      {"a usable runtime folder",
       [&](const fs::path& base, const fs::path&) -> std::optional<std::string> {
         return ownedBy(base / "run", nobody, 0700);
       },
       {},
       "run"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Folder base;
    const fs::path home = base.path / "home", settings = home / ".config" / "quorvel";
    fs::create_directories(settings);
    for (const auto& folder : {home, home / ".config", settings}) ASSERT_EQ(::chown(folder.c_str(), nobody, nobody), 0);
    Environment environment{{"HOME", home.string()}, {"XDG_STATE_HOME", std::nullopt},
                            {"XDG_CACHE_HOME", std::nullopt}, {"XDG_RUNTIME_DIR", c.prepare(base.path, settings)}};
    for (const auto& [name, value] : c.environment) {
      environment[name] = value && value->starts_with("@") ? base.path.string() + value->substr(1) : value;
    }
    const fs::path expected = base.path / c.expected;
    EXPECT_EQ(asOrdinaryUser(environment, [&] { return lockAndJournal(settings / "defaults.json", expected); }), "");
    for (const auto& name : premade) fs::remove(name);
    premade.clear();
  }
}

// Two stores of one folder at once (the second without the lock), and a store whose lock cannot be
// made at all: each keeps the change waiting at its end in a journal of its own, none replaces
// another's, and the next start that holds the lock saves them all, the newest on top. Each says
// once why it does not hold the lock, and no end claims that another store holds it.
TEST(DefaultsStoreLock, AChangeWaitingAtTheEndSurvivesWhoeverHoldsTheLock) {
  Folder base;
  const fs::path runtime = base.path / "run", file = base.path / "settings" / "defaults.json";
  fs::create_directories(runtime);
  fs::permissions(runtime, fs::perms::owner_all, fs::perm_options::replace);
  writeBytes(base.path / "not-a-folder", "");
  fs::create_directories(file.parent_path());
  writeBytes(file, R"({"style": "row"})");
  const Environment usable{{"XDG_RUNTIME_DIR", runtime.string()}};
  const auto waiting = [](DefaultsStore& store, const std::map<std::string, Value>& values) {
    store.setWriteInterruptionForTesting([] { return false; });
    store.setMany(values);
    EXPECT_FALSE(store.lastWriteSucceeded());
  };
  LogCapture capture;
  {
    ScopedEnvironment environment(usable);
    auto first = std::make_unique<DefaultsStore>(file);
    auto second = std::make_unique<DefaultsStore>(file);
    waiting(*first, {{"first", 1}, {"both", "first"}});
    waiting(*second, {{"second", 2}, {"both", "second"}});
    second->close();
    second.reset();
    first.reset();
  }
  {
    // No runtime folder, and a home in which no state or cache folder can be made.
    ScopedEnvironment environment({{"XDG_RUNTIME_DIR", std::nullopt},
                                   {"HOME", (base.path / "not-a-folder").string()},
                                   {"XDG_STATE_HOME", std::nullopt},
                                   {"XDG_CACHE_HOME", std::nullopt}});
    DefaultsStore unlocked(file);
    waiting(unlocked, {{"third", 3}});
  }
  EXPECT_EQ(linesWith(capture, "Another store holds the lock on the settings folder"), 1u);
  EXPECT_EQ(linesWith(capture, "could not be made"), 1u);
  EXPECT_EQ(linesWith(capture, "not-a-folder/.local/state/quorvel: it is not a folder"), 1u);
  EXPECT_EQ(linesWith(capture, "Quorvel ends with changes not saved"), 3u);
  EXPECT_EQ(linesWith(capture, "another store holds the settings folder"), 0u);

  ScopedEnvironment environment(usable);
  const Value expected{{"style", "row"}, {"first", 1}, {"second", 2}, {"third", 3}, {"both", "first"}};
  DefaultsStore next(file);
  EXPECT_EQ(Value(next.storedValues()), expected);
  EXPECT_EQ(Value::parse(readBytes(file)), expected);
  EXPECT_EQ(namesStartingWith(file.parent_path(), "defaults.json."), std::vector<std::string>{});
}

// A journal whose changes would make a file larger than a defaults file may be (another program
// made the file larger since) is kept beside under the name the log gives; it holds nothing up.
TEST(DefaultsStoreLock, AJournalThatCannotBeSavedIsKeptBesideAndHoldsUpNothing) {
  Folder base;
  const fs::path runtime = base.path / "run", file = base.path / "defaults.json";
  fs::create_directories(runtime);
  fs::permissions(runtime, fs::perms::owner_all, fs::perm_options::replace);
  ScopedEnvironment environment({{"XDG_RUNTIME_DIR", runtime.string()}});
  const size_t part = DefaultsStore::maximumFileSize * 6 / 10;
  const std::string theirs = Value{{"theirs", std::string(part, 't')}}.dump();
  const std::string journal =
      Value{{"set", {{"mine", std::string(part, 'm')}, {"titleSize", "large"}}}, {"removed", Value::array()}}.dump();
  writeBytes(file, theirs);
  writeBytes(base.path / "defaults.json.unsaved", journal);

  LogCapture capture;
  {
    DefaultsStore store(file);
    EXPECT_FALSE(store.hasStoredValue("mine"));
    EXPECT_EQ(readBytes(file), theirs);
    const auto aside = namesStartingWith(base.path, "defaults.json.unsaved.unsaveable-");
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(readBytes(base.path / aside[0]), journal);
    EXPECT_FALSE(fs::exists(base.path / "defaults.json.unsaved"));
    EXPECT_EQ(linesWith(capture, (base.path / aside[0]).string()), 1u);
    EXPECT_EQ(linesWith(capture, "the change is undone"), 0u);

    store.set("vimKeys", true);
    EXPECT_TRUE(store.lastWriteSucceeded());
  }
  DefaultsStore next(file);
  next.set("animationSpeed", "fast");
  EXPECT_TRUE(next.lastWriteSucceeded());
  EXPECT_EQ(Value(next.storedValues()),
            (Value{{"theirs", std::string(part, 't')}, {"vimKeys", true}, {"animationSpeed", "fast"}}));
  EXPECT_EQ(namesStartingWith(base.path, "defaults.json.unsaved").size(), 1u);
}

}  // namespace
}  // namespace quorvel
