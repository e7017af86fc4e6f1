// The defaults store following its file while another program changes it.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <sstream>

#include "base/DefaultsStore.h"
#include "base/LogCapture.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using Value = DefaultsStore::Value;

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

struct Folder {
  Folder() {
    std::string pattern = (fs::path(::testing::TempDir()) / "follow-XXXXXX").string();
    path = ::mkdtemp(pattern.data());
  }
  ~Folder() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
  fs::path path;
};

std::string readBytes(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void writeInPlace(const fs::path& file, const std::string& bytes) {
  std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
}

// As most editors save: a new file renamed over the old one.
void writeByRename(const fs::path& file, const std::string& bytes) {
  writeInPlace(file.string() + ".new", bytes);
  fs::rename(file.string() + ".new", file);
}

std::vector<std::string> asideFiles(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().filename().string().rfind("defaults.json.damaged-", 0) == 0) names.push_back(entry.path());
  }
  return names;
}

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
    DefaultsStore store(file);
    store.set("style", "coverArc");
    FakeFolderWatch watch;
    store.follow(watch);
    EXPECT_EQ(watch.folders, std::vector<fs::path>{folder.path});
    int notified = 0;
    const Subscription counting = store.addObserver([&] { ++notified; });

    // The store's own write, seen by the watch, is no change.
    store.set("style", "flip3d");
    watch.fire();
    EXPECT_EQ(notified, 1);

    c.change(file);
    watch.fire();
    EXPECT_EQ(store.storedValues(), c.expected);
    EXPECT_EQ(notified, 2);
    watch.fire();  // nothing changed since
    EXPECT_EQ(notified, 2);
  }
}

TEST(DefaultsStoreFollow, ADamagedChangeIsSetAsideAndNeverWrittenOver) {
  Folder folder;
  const auto file = folder.path / "defaults.json";
  DefaultsStore store(file);
  store.registerDefaults({{"style", "coverArc"}});
  store.set("style", "row");
  FakeFolderWatch watch;
  store.follow(watch);
  int notified = 0;
  const Subscription counting = store.addObserver([&] { ++notified; });

  LogCapture capture;
  writeInPlace(file, R"({"style": "expo",)");
  watch.fire();
  EXPECT_EQ(notified, 1);
  EXPECT_EQ(store.string("style"), "coverArc");  // as at start: the registered defaults serve
  auto aside = asideFiles(folder.path);
  ASSERT_EQ(aside.size(), 1u);
  EXPECT_EQ(readBytes(aside[0]), R"({"style": "expo",)");
  EXPECT_EQ(capture.messages("DefaultsStore").size(), 1u);

  store.set("vimKeys", true);
  EXPECT_EQ(Value::parse(readBytes(file)), (Value{{"vimKeys", true}}));
  EXPECT_EQ(readBytes(aside[0]), R"({"style": "expo",)");
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
  DefaultsStore store(folder.path / "config" / "defaults.json");
  FakeFolderWatch watch;
  store.follow(watch);
  EXPECT_EQ(watch.folders.size(), 2u);
  writeByRename(folder.path / "dotfiles" / "quorvel.json", R"({"style": "expo"})");
  watch.fire();
  EXPECT_EQ(store.string("style"), "expo");
  EXPECT_TRUE(fs::is_symlink(fs::symlink_status(folder.path / "config" / "defaults.json")));
}

}  // namespace
}  // namespace quorvel
