// The defaults store following its file while another program changes it.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "base/DefaultsStore.h"
#include "base/LogCapture.h"
#include "base/ManualLoop.h"
#include "StoreTestFiles.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using Value = DefaultsStore::Value;
using namespace std::chrono_literals;

// A folder watch the test fires by hand.
class FakeFolderWatch : public FolderWatch {
 public:
  Subscription watch(const fs::path& folder, std::function<void()> changed) override {
    folders.push_back(folder);
    return observers_.add(std::move(changed));
  }
  void fire() { observers_.notify(); }
  std::vector<fs::path> folders;

 private:
  ObserverList<> observers_;
};

struct Folder : storetest::Folder {
  Folder() : storetest::Folder("follow") {}
};

using storetest::readBytes;

constexpr auto& writeInPlace = storetest::writeBytes;

// As most editors save: a new file renamed over the old one.
void writeByRename(const fs::path& file, const std::string& bytes) {
  writeInPlace(file.string() + ".new", bytes);
  fs::rename(file.string() + ".new", file);
}

std::vector<std::string> filesNamed(const fs::path& folder, const std::string& prefix) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().filename().string().rfind(prefix, 0) == 0) names.push_back(entry.path());
  }
  return names;
}

std::vector<std::string> asideFiles(const fs::path& folder) { return filesNamed(folder, "defaults.json.damaged-"); }

// File access as an ordinary user has it, on this thread only: root reads a file whatever its mode.
class OrdinaryUser {
 public:
  explicit OrdinaryUser(const fs::path& folder) {
    if (::geteuid() != 0) return;
    constexpr uid_t nobody = 65534;
    EXPECT_EQ(::chown(folder.c_str(), nobody, nobody), 0);
    ::setfsgid(nobody);
    ::setfsuid(nobody);
    active_ = true;
  }
  ~OrdinaryUser() {
    if (!active_) return;
    ::setfsuid(0);
    ::setfsgid(0);
  }

 private:
  bool active_ = false;
};

// A store that follows its file from the start, on a loop's clock, with a watch the test fires.
struct Followed {
  explicit Followed(const std::string& initial, bool ordinaryUser = false) {
    if (ordinaryUser) user.emplace(folder.path);
    if (!initial.empty()) writeInPlace(file, initial);
    store.emplace(file);
    store->follow(watch, loop.main());
  }
  Folder folder;
  std::optional<OrdinaryUser> user;
  const fs::path file = folder.path / "defaults.json";
  ManualLoop loop;
  FakeFolderWatch watch;
  std::optional<DefaultsStore> store;
};

TEST(DefaultsStoreFollow, ChangesOfAnotherProgramReachObserversOnce) {
  struct Case {
    const char* label;
    std::function<void(const fs::path&)> change;
    std::map<std::string, Value> expected;
  };
  const std::vector<Case> cases = {
      {"saved by rename", [](const fs::path& f) { writeByRename(f, R"({"style": "expo", "vimKeys": true})"); },
       {{"style", "expo"}, {"vimKeys", true}}},
      {"written in place", [](const fs::path& f) { writeInPlace(f, R"({"style": "row"})"); }, {{"style", "row"}}},
      {"removed", [](const fs::path& f) { fs::remove(f); }, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Folder folder;
    const auto file = folder.path / "defaults.json";
    ManualLoop loop;
    DefaultsStore store(file);
    store.set("style", "coverArc");
    FakeFolderWatch watch;
    store.follow(watch, loop.main());
    EXPECT_EQ(watch.folders, std::vector<fs::path>{folder.path});
    int notified = 0;
    const Subscription counting = store.addObserver([&] { ++notified; });

    // The store's own write, seen by the watch, is no change.
    store.set("style", "flip3d");
    watch.fire();
    EXPECT_EQ(notified, 1);

    c.change(file);
    watch.fire();
    loop.advance(1s);  // a file gone is waited for before it counts
    EXPECT_EQ(store.storedValues(), c.expected);
    EXPECT_EQ(notified, 2);
    watch.fire();  // nothing changed since
    EXPECT_EQ(notified, 2);
  }
}

// Another program saves the file in two halves with a pause between (a slow command piped into it,
// a network folder, a busy machine) while a setting is changed in the program. Nothing is set aside
// and the settings never empty: the change is saved on top of the finished file, or, past
// unparsedWait, with the half file kept beside, from where the finished settings are taken.
TEST(DefaultsStoreFollow, ASaveThatPausesHalfWayLosesNothing) {
  const std::string whole = R"({"style": "expo", "vimKeys": false, "gridOrder": "snake"})";
  const Value finished{{"style", "expo"}, {"vimKeys", false}, {"gridOrder", "snake"}, {"titleSize", "small"}};
  for (const Duration pause : std::vector<Duration>{300ms, 1s, 5s, 40s}) {
    SCOPED_TRACE(toSeconds(pause));
    Followed followed(R"({"style": "row", "vimKeys": true})");
    auto [folder, file, loop, watch, store] = std::tie(followed.folder, followed.file, followed.loop, followed.watch,
                                                        *followed.store);
    bool emptied = false;
    const Subscription checking = store.addObserver([&] { emptied = emptied || !store.hasStoredValue("style"); });

    const int writer = ::open(file.c_str(), O_WRONLY | O_TRUNC);
    ASSERT_GE(writer, 0);
    ASSERT_EQ(::write(writer, whole.data(), 20), 20);
    watch.fire();
    store.set("titleSize", "small");
    loop.advance(pause);
    EXPECT_EQ(store.string("style"), "row");
    EXPECT_EQ(store.string("titleSize"), "small");
    const auto kept = filesNamed(folder.path, "defaults.json.unparsed-");
    if (pause >= DefaultsStore::unparsedWait) {
      ASSERT_EQ(kept.size(), 1u);
      EXPECT_EQ(readBytes(kept[0]), whole.substr(0, 20));
      EXPECT_EQ(Value::parse(readBytes(file)), (Value{{"style", "row"}, {"vimKeys", true}, {"titleSize", "small"}}));
    } else {
      EXPECT_TRUE(kept.empty());
      EXPECT_EQ(readBytes(file), whole.substr(0, 20));  // nothing written over it
    }

    ASSERT_EQ(::write(writer, whole.data() + 20, whole.size() - 20), static_cast<ssize_t>(whole.size() - 20));
    ::close(writer);
    watch.fire();
    EXPECT_EQ(Value(store.storedValues()), finished);
    EXPECT_EQ(Value::parse(readBytes(file)), finished);
    EXPECT_TRUE(asideFiles(folder.path).empty());
    EXPECT_TRUE(filesNamed(folder.path, "defaults.json.unparsed-").empty());
    EXPECT_FALSE(emptied);
  }
}

// A hand edit saved so that the program cannot read it: nothing is written over it, the log says so
// once, and once it can be read the changes made meanwhile are saved on top of it.
TEST(DefaultsStoreFollow, AFileThatCannotBeReadIsNeverWrittenOver) {
  Followed followed(R"({"style": "row"})", /*ordinaryUser=*/true);
  auto [file, loop, watch, store] = std::tie(followed.file, followed.loop, followed.watch, *followed.store);
  LogCapture capture;
  const std::string edited = R"({"style": "expo", "vimKeys": true})";
  writeByRename(file, edited);
  fs::permissions(file, fs::perms::none);
  watch.fire();
  store.set("titleSize", "small");
  store.set("gridOrder", "snake");
  loop.advance(1min);
  EXPECT_FALSE(store.lastWriteSucceeded());
  EXPECT_TRUE(store.fileUnreadable());
  EXPECT_EQ(store.string("style"), "row");  // the settings in use stay
  EXPECT_EQ(capture.messages("DefaultsStore").size(), 1u);
  fs::permissions(file, fs::perms(0600));
  EXPECT_EQ(readBytes(file), edited);

  watch.fire();
  const Value expected{{"style", "expo"}, {"vimKeys", true}, {"titleSize", "small"}, {"gridOrder", "snake"}};
  EXPECT_EQ(Value::parse(readBytes(file)), expected);
  EXPECT_EQ(Value(store.storedValues()), expected);
  EXPECT_TRUE(store.lastWriteSucceeded());
}

TEST(DefaultsStoreFollow, AWriteKeepsAChangeTheWatchHasNotToldOfYet) {
  Folder folder;
  const auto file = folder.path / "defaults.json";
  DefaultsStore store(file);
  store.set("style", "row");
  writeByRename(file, R"({"style": "expo", "vimKeys": true})");
  int notified = 0;
  const Subscription counting = store.addObserver([&] { ++notified; });

  store.set("titleSize", "small");
  EXPECT_EQ(notified, 1);
  EXPECT_EQ(Value::parse(readBytes(file)), (Value{{"style", "expo"}, {"vimKeys", true}, {"titleSize", "small"}}));
  EXPECT_EQ(store.string("style"), "expo");
}

TEST(DefaultsStoreFollow, ALinkedFileIsWatchedWhereItLives) {
  Folder folder;
  fs::create_directories(folder.path / "config");
  fs::create_directories(folder.path / "dotfiles");
  writeInPlace(folder.path / "dotfiles" / "quorvel.json", R"({"style": "row"})");
  fs::create_symlink("../dotfiles/quorvel.json", folder.path / "config" / "defaults.json");
  ManualLoop loop;
  DefaultsStore store(folder.path / "config" / "defaults.json");
  FakeFolderWatch watch;
  store.follow(watch, loop.main());
  EXPECT_EQ(watch.folders.size(), 2u);
  writeByRename(folder.path / "dotfiles" / "quorvel.json", R"({"style": "expo"})");
  watch.fire();
  EXPECT_EQ(store.string("style"), "expo");
  EXPECT_TRUE(fs::is_symlink(fs::symlink_status(folder.path / "config" / "defaults.json")));
}

}  // namespace
}  // namespace quorvel

namespace quorvel {
namespace {

// Another program saves the settings file in the moment between the store's read and its own save
// (the test's hook runs there): the store's change goes on top of that save, never on the older file.
TEST(HandEdit, AnOutsideSaveDuringAWriteIsNeverUndone) {
  const std::string edited = R"({"style": "expo", "vimKeys": true})";
  struct Case {
    const char* label;
    std::function<void(const fs::path&)> save;
  };
  const std::vector<Case> cases = {
      {"in place", [&](const fs::path& f) { writeInPlace(f, edited); }},
      {"by rename", [&](const fs::path& f) { writeByRename(f, edited); }},
      {"removed and written anew", [&](const fs::path& f) { fs::remove(f), writeInPlace(f, edited); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Folder folder;
    const auto file = folder.path / "defaults.json";
    ManualLoop loop;
    DefaultsStore store(file);
    store.setMany({{"style", "row"}, {"vimKeys", true}});
    FakeFolderWatch watch;
    store.follow(watch, loop.main());
    bool saved = false;
    store.setWriteInterruptionForTesting([&] {
      if (!std::exchange(saved, true)) c.save(file);
      return true;
    });
    store.set("titleSize", "small");
    EXPECT_TRUE(store.lastWriteSucceeded());
    const Value expected{{"style", "expo"}, {"vimKeys", true}, {"titleSize", "small"}};
    EXPECT_EQ(Value::parse(readBytes(file)), expected);
    watch.fire();
    loop.advance(1s);
    EXPECT_EQ(Value(store.storedValues()), expected);
    EXPECT_TRUE(asideFiles(folder.path).empty());
  }
}

// Other programs read the file and save it with a change of their own (as a script with jq would)
// again and again while the store writes: the store's file never takes the place of a newer save,
// so none of them reads an older file, and every change is kept.
TEST(HandEdit, NoOneReadsAnOlderFileWhileTheStoreWrites) {
  for (const auto& save : std::vector<std::function<void(const fs::path&, const std::string&)>>{writeInPlace,
                                                                                                 writeByRename}) {
    Followed followed(R"({"style": "row"})");
    auto [file, store] = std::tie(followed.file, *followed.store);
    int saves = 0;
    store.setWriteInterruptionForTesting([&] {
      if (saves < 3) {
        Value values = Value::parse(readBytes(file));
        values["outside" + std::to_string(++saves)] = true;
        save(file, values.dump());
      }
      return true;
    });
    store.set("titleSize", "small");
    EXPECT_TRUE(store.lastWriteSucceeded());
    const Value expected{
        {"style", "row"}, {"titleSize", "small"}, {"outside1", true}, {"outside2", true}, {"outside3", true}};
    EXPECT_EQ(Value::parse(readBytes(file)), expected);
    EXPECT_EQ(Value(store.storedValues()), expected);
  }
}

// Other programs' saves are renamed in just before the store's swap, so that the swap displaces
// them (the hook puts them where the swap leaves the file it replaced). One goes back in place,
// unless a newer save was renamed over the store's file meanwhile: that one stays, and the
// displaced save's changes are taken where the newer one holds a value older than theirs. The
// store's own change stays on top, and nothing is left beside once saved.
TEST(HandEdit, ASaveTheSwapDisplacedGoesBackUnlessANewerOneStands) {
  const std::string displaced = R"({"style": "row", "theirs": 5, "same": 1, "d": true, "titleSize": "large"})";
  struct Case {
    const char* label;
    std::string base;
    // What other programs save in the round's swap: the one displaced, and one renamed over the path.
    std::vector<std::pair<std::string, std::function<std::string(const fs::path&)>>> rounds;
    Value expected;
  };
  const auto fixed = [](std::string text) { return [text](const fs::path&) { return text; }; };
  const std::vector<Case> cases = {
      {"put back",
       R"({"style": "row", "theirs": 4, "keep": 1, "same": 1})",
       {{displaced, nullptr}},
       {{"style", "row"}, {"theirs", 5}, {"same", 1}, {"d", true}, {"titleSize", "small"}}},
      {"a newer save stands",
       R"({"style": "row", "theirs": 4, "keep": 1, "same": 1})",
       {{displaced, fixed(R"({"style": "expo", "theirs": 6, "keep": 1, "same": 1})")}},
       {{"style", "expo"}, {"theirs", 6}, {"same", 1}, {"d", true}, {"titleSize", "small"}}},
      {"a newer save made on the store's file, which holds an earlier displaced value",
       R"({"k": 1})",
       {{R"({"k": 2})", fixed(R"({"k": 1, "j": 1})")},
        {R"({"k": 3, "m": 1})",
         [](const fs::path& file) {
           Value values = Value::parse(readBytes(file));
           values["n"] = 1;
           return values.dump();
         }}},
       {{"k", 3}, {"m", 1}, {"n", 1}, {"titleSize", "small"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Folder folder;
    const auto file = folder.path / "defaults.json";
    writeInPlace(file, c.base);
    DefaultsStore store(file);
    store.setSwapHookForTesting([&, round = size_t{0}](const fs::path& aside) mutable {
      if (round == c.rounds.size()) return;
      const auto& [theirs, newer] = c.rounds[round++];
      writeInPlace(folder.path / "theirs", theirs);
      fs::rename(folder.path / "theirs", aside);
      if (newer) writeByRename(file, newer(file));
    });
    store.set("titleSize", "small");
    EXPECT_TRUE(store.lastWriteSucceeded());
    EXPECT_EQ(Value::parse(readBytes(file)), c.expected);
    EXPECT_EQ(Value(store.storedValues()), c.expected);
    EXPECT_EQ(filesNamed(folder.path, "defaults.json.").size(), 0u);
  }
}

// A save in two halves caught between them: the store puts the half-written file back, waits, and
// writes its change on top of the whole file once the other program has finished.
TEST(HandEdit, AFileBeingWrittenIsNeverWrittenOver) {
  Folder folder;
  const auto file = folder.path / "defaults.json";
  ManualLoop loop;
  DefaultsStore store(file);
  store.setMany({{"style", "row"}, {"vimKeys", true}});
  FakeFolderWatch watch;
  store.follow(watch, loop.main());
  int notified = 0;
  const Subscription counting = store.addObserver([&] { ++notified; });

  const std::string whole = R"({"style": "expo", "vimKeys": false})";
  int writer = -1;
  store.setWriteInterruptionForTesting([&] {
    if (writer < 0) {
      writer = ::open(file.c_str(), O_WRONLY | O_TRUNC);
      EXPECT_EQ(::write(writer, whole.data(), 10), 10);
    }
    return true;
  });
  store.set("titleSize", "small");
  EXPECT_EQ(store.string("style"), "row");  // the values in memory stay as they were
  EXPECT_EQ(store.string("titleSize"), "small");
  EXPECT_EQ(readBytes(file), whole.substr(0, 10));
  loop.advance(50ms);
  EXPECT_EQ(readBytes(file), whole.substr(0, 10));

  EXPECT_EQ(::write(writer, whole.data() + 10, whole.size() - 10), static_cast<ssize_t>(whole.size() - 10));
  ::close(writer);
  watch.fire();
  loop.advance(1s);
  const Value expected{{"style", "expo"}, {"vimKeys", false}, {"titleSize", "small"}};
  EXPECT_EQ(Value::parse(readBytes(file)), expected);
  EXPECT_EQ(Value(store.storedValues()), expected);
  EXPECT_TRUE(asideFiles(folder.path).empty());
  EXPECT_EQ(notified, 2);  // the change, then the other program's values
}

// The replacement keeps the permissions the user gave the file; a new file is the user's alone.
TEST(HandEdit, TheFileKeepsItsMode) {
  for (const fs::perms mode : {fs::perms::none, fs::perms::owner_read, fs::perms(0640), fs::perms(0604)}) {
    SCOPED_TRACE(static_cast<int>(mode));
    Folder folder;
    const auto file = folder.path / "defaults.json";
    DefaultsStore store(file);
    store.set("style", "row");
    EXPECT_EQ(fs::status(file).permissions(), fs::perms(0600));
    fs::permissions(file, mode);
    store.set("style", "expo");
    EXPECT_EQ(fs::status(file).permissions(), mode);
    if (::geteuid() == 0) {
      EXPECT_EQ(Value::parse(readBytes(file)), (Value{{"style", "expo"}}));
    }
  }
}

// The store starts while another program is half-way through a save in place: the half file is
// waited for, not set aside, and taken once finished; one never finished is kept beside after
// unparsedWait, and the store goes on.
TEST(DefaultsStoreFollow, AStartDuringAnotherProgramsSaveWaitsForIt) {
  for (const bool finished : {true, false}) {
    SCOPED_TRACE(finished ? "finished" : "never finished");
    Folder folder;
    const auto file = folder.path / "defaults.json";
    const std::string whole = R"({"style": "expo", "vimKeys": true})";
    writeInPlace(file, whole.substr(0, 12));
    ManualLoop loop;
    FakeFolderWatch watch;
    DefaultsStore store(file);
    store.registerDefaults({{"style", "row"}});
    store.follow(watch, loop.main());
    EXPECT_EQ(store.string("style"), "row");
    loop.advance(5s);
    EXPECT_TRUE(asideFiles(folder.path).empty());
    EXPECT_EQ(readBytes(file), whole.substr(0, 12));
    if (finished) {
      writeInPlace(file, whole);
      watch.fire();
      EXPECT_EQ(Value(store.storedValues()), Value::parse(whole));
      continue;
    }
    loop.advance(DefaultsStore::unparsedWait);
    ASSERT_EQ(asideFiles(folder.path).size(), 1u);
    EXPECT_EQ(readBytes(asideFiles(folder.path)[0]), whole.substr(0, 12));
    store.set("titleSize", "small");
    EXPECT_TRUE(store.lastWriteSucceeded());
    EXPECT_EQ(Value::parse(readBytes(file)), (Value{{"titleSize", "small"}}));
  }
}

// A change waits for another program's save caught half-way when the program ends: it is not
// reported as saved, it is kept in the journal, and the next start puts it on top of the finished save.
TEST(DefaultsStoreFollow, AChangeThatWaitsWhenTheStoreEndsIsKept) {
  Followed followed(R"({"style": "row"})");
  const std::string whole = R"({"style": "expo", "vimKeys": true})";
  const int writer = ::open(followed.file.c_str(), O_WRONLY | O_TRUNC);
  ASSERT_EQ(::write(writer, whole.data(), 10), 10);
  followed.watch.fire();
  followed.store->set("titleSize", "small");
  EXPECT_EQ(followed.store->lastWriteOutcome(), DefaultsStore::WriteOutcome::waiting);
  EXPECT_FALSE(followed.store->lastWriteSucceeded());
  followed.store.reset();
  EXPECT_TRUE(fs::exists(followed.folder.path / "defaults.json.unsaved"));

  ASSERT_EQ(::write(writer, whole.data() + 10, whole.size() - 10), static_cast<ssize_t>(whole.size() - 10));
  ::close(writer);
  DefaultsStore next(followed.file);
  const Value expected{{"style", "expo"}, {"vimKeys", true}, {"titleSize", "small"}};
  EXPECT_EQ(Value(next.storedValues()), expected);
  EXPECT_EQ(Value::parse(readBytes(followed.file)), expected);
  EXPECT_FALSE(fs::exists(followed.folder.path / "defaults.json.unsaved"));
}

// A change made while the path is no file waits: emptied and put back in two steps (rm -rf, then
// cp), the file put back takes the change on top, and nothing is written into the gap.
TEST(DefaultsStoreFollow, AChangeMadeWhileThePathIsNoFileGoesOnTopOfTheFilePutBack) {
  const std::vector<std::pair<const char*, std::function<void(const fs::path&)>>> cases = {
      {"a folder", [](const fs::path& f) { fs::create_directory(f); }},
      {"a named pipe", [](const fs::path& f) { ::mkfifo(f.c_str(), 0600); }},
  };
  for (const auto& [label, make] : cases) {
    SCOPED_TRACE(label);
    Followed followed(R"({"a": 1})");
    auto [file, store] = std::tie(followed.file, *followed.store);
    fs::remove(file);
    make(file);
    followed.watch.fire();
    store.set("b", 2);
    EXPECT_EQ(store.lastWriteOutcome(), DefaultsStore::WriteOutcome::waiting);
    EXPECT_EQ(Value(store.storedValues()), (Value{{"a", 1}, {"b", 2}}));
    fs::remove_all(file);
    followed.watch.fire();
    followed.loop.advance(50ms);
    EXPECT_FALSE(fs::exists(fs::symlink_status(file))) << "written into the gap";
    writeInPlace(file, R"({"a": 1, "c": 3})");
    followed.watch.fire();
    followed.loop.advance(1s);
    const Value expected{{"a", 1}, {"b", 2}, {"c", 3}};
    EXPECT_EQ(Value::parse(readBytes(file)), expected);
    EXPECT_EQ(Value(store.storedValues()), expected);
  }
}

}  // namespace
}  // namespace quorvel
