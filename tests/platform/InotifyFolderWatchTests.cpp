#include "platform/InotifyFolderWatch.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>
#include <stdlib.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <sstream>
#include <atomic>
#include <cstdlib>
#include <thread>

#include "base/DefaultsStore.h"
#include "base/SystemClock.h"
#include "base/ThreadQueue.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Another program saving the settings file reaches the store's observers through the real watch,
// and the store's own writes do not come back as changes.
TEST(InotifyFolderWatch, TheStoreFollowsItsFileOnTheDisk) {
  std::string pattern = (fs::path(::testing::TempDir()) / "inotify-XXXXXX").string();
  const fs::path folder = ::mkdtemp(pattern.data());
  const auto file = folder / "defaults.json";

  InotifyFolderWatch watch;
  ThreadQueue queue("Settings file", QueueQos::utility, SystemClock::shared());
  std::mutex mutex;
  std::condition_variable heard;
  int notified = 0;
  {
    DefaultsStore store(file);
    store.set("style", "row");
    store.follow(watch, queue);
    const Subscription counting = store.addObserver([&] {
      std::lock_guard guard(mutex);
      ++notified;
      heard.notify_all();
    });

    std::ofstream(folder / "edited", std::ios::trunc) << R"({"style": "expo"})";
    fs::rename(folder / "edited", file);
    {
      std::unique_lock lock(mutex);
      ASSERT_TRUE(heard.wait_for(lock, 10s, [&] { return notified > 0; })) << "the change was never heard";
    }
    EXPECT_EQ(store.string("style"), "expo");
    std::this_thread::sleep_for(100ms);  // let the events of the rename all arrive
    std::lock_guard guard(mutex);
    EXPECT_EQ(notified, 1);
  }
  // The store is gone before the watch: nothing is called after.
  std::ofstream(file, std::ios::trunc) << R"({"style": "flip3d"})";
  std::this_thread::sleep_for(50ms);
  fs::remove_all(folder);
}

// The store as the program wires it: the real watch, and a queue of its own for the looks at a
// file being written.
struct FollowingStore {
  explicit FollowingStore(const fs::path& file) : store(file) {
    store.follow(watch, queue);
  }
  // Waits (at most 10 s) until the store holds `value` under `key`.
  bool reaches(const std::string& key, const DefaultsStore::Value& value) {
    for (int i = 0; i < 1000; ++i) {
      if (store.object(key) == value) return true;
      std::this_thread::sleep_for(10ms);
    }
    return false;
  }
  InotifyFolderWatch watch;
  ThreadQueue queue{"Settings file", QueueQos::utility, SystemClock::shared()};
  DefaultsStore store;
};

std::vector<std::string> asideFiles(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().filename().string().find(".damaged-") != std::string::npos) names.push_back(entry.path());
  }
  return names;
}

void writeFd(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    ASSERT_GT(n, 0);
    bytes.remove_prefix(static_cast<size_t>(n));
  }
}

// Saves made the ordinary ways while the store follows the file: none is taken for damage, and the
// settings in memory never go missing on the way.
TEST(HandEdit, SavesOfAnotherProgramAreNeverDamage) {
  std::string pattern = (fs::path(::testing::TempDir()) / "handedit-XXXXXX").string();
  const fs::path folder = ::mkdtemp(pattern.data());
  const auto file = folder / "defaults.json";
  const auto source = folder / "source.json";
  std::ofstream(file) << R"({"keep": true, "save": 0})";

  struct Way {
    const char* label;
    std::function<void(const std::string&)> save;
  };
  const std::vector<Way> ways = {
      {"cp", [&](const std::string& text) {
         std::ofstream(source, std::ios::trunc) << text;
         ASSERT_EQ(std::system(("cp " + source.string() + " " + file.string()).c_str()), 0);
       }},
      {"a shell's >", [&](const std::string& text) {
         std::ofstream(source, std::ios::trunc) << text;
         ASSERT_EQ(std::system(("cat " + source.string() + " > " + file.string()).c_str()), 0);
       }},
      {"removed and written anew", [&](const std::string& text) {
         fs::remove(file);
         const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
         writeFd(fd, text);
         ::close(fd);
       }},
      {"two halves", [&](const std::string& text) {
         const int fd = ::open(file.c_str(), O_WRONLY | O_TRUNC);
         writeFd(fd, std::string_view(text).substr(0, text.size() / 2));
         std::this_thread::sleep_for(2ms);
         writeFd(fd, std::string_view(text).substr(text.size() / 2));
         ::close(fd);
       }},
  };
  {
    FollowingStore following(file);
    std::atomic<int> emptied{0};
    const Subscription checking = following.store.addObserver([&] {
      if (!following.store.hasStoredValue("keep")) ++emptied;
    });
    int save = 0;
    for (const auto& way : ways) {
      SCOPED_TRACE(way.label);
      for (int i = 0; i < 200; ++i) {
        way.save(R"({"keep": true, "way": ")" + std::string(way.label) + R"(", "save": )" + std::to_string(++save) + "}");
        if (i % 3 == 0) std::this_thread::sleep_for(1ms);
      }
      EXPECT_TRUE(following.reaches("save", save));
    }
    EXPECT_EQ(emptied, 0) << "the settings in memory went missing while a file was saved";
  }
  EXPECT_TRUE(asideFiles(folder).empty());
  fs::remove_all(folder);
}

// Another program saves while the store writes, both let go at once: whichever way it saves, its
// save is never undone by the store's write.
TEST(HandEdit, ConcurrentOutsideSavesAreNeverUndone) {
  std::string pattern = (fs::path(::testing::TempDir()) / "handedit-XXXXXX").string();
  const fs::path folder = ::mkdtemp(pattern.data());
  const auto file = folder / "defaults.json";
  std::ofstream(file) << R"({"outside": 0})";
  auto fileHolds = [&](int round) {
    for (int i = 0; i < 500; ++i) {
      std::ifstream in(file);
      const auto value = DefaultsStore::Value::parse(in, nullptr, false);
      if (value.is_object() && value.value("outside", -1) == round) return true;
      std::this_thread::sleep_for(10ms);
    }
    return false;
  };
  {
    FollowingStore following(file);
    int undone = 0;
    std::string which;  // the rounds undone, with how they saved and what stood at the end
    for (int round = 1; round <= 120; ++round) {
      const std::string text = R"({"outside": )" + std::to_string(round) + "}";
      std::atomic<bool> go{false};
      std::thread outside([&] {
        while (!go) {
        }
        if (round % 3 == 0) {  // in place
          const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
          writeFd(fd, text);
          ::close(fd);
        } else if (round % 3 == 1) {  // by rename
          std::ofstream(folder / "edited", std::ios::trunc) << text;
          fs::rename(folder / "edited", file);
        } else {  // removed and written anew
          fs::remove(file);
          const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
          writeFd(fd, text);
          ::close(fd);
        }
      });
      go = true;
      following.store.set("mine", round);
      outside.join();
      if (!fileHolds(round) || !following.reaches("outside", round)) {
        ++undone;
        std::ifstream in(file);
        std::stringstream bytes;
        bytes << in.rdbuf();
        static const char* const ways[] = {"in place", "by rename", "removed and written anew"};
        which += "\nround " + std::to_string(round) + " (" + ways[round % 3] + "): the file holds " + bytes.str() +
                 ", the store " + following.store.object("outside").value_or(nullptr).dump();
      }
    }
    EXPECT_EQ(undone, 0) << which;
  }
  EXPECT_TRUE(asideFiles(folder).empty());
  fs::remove_all(folder);
}

// The configuration folder removed and made again, twice: the store follows its file each time.
TEST(HandEdit, TheWatchSurvivesItsFolder) {
  std::string pattern = (fs::path(::testing::TempDir()) / "handedit-XXXXXX").string();
  const fs::path root = ::mkdtemp(pattern.data());
  const fs::path folder = root / "config" / "quorvel";
  const auto file = folder / "defaults.json";
  {
    FollowingStore following(file);
    following.store.set("style", "row");
    for (const char* style : {"expo", "flip3d"}) {
      fs::remove_all(root / "config");
      std::this_thread::sleep_for(20ms);
      fs::create_directories(folder);
      std::ofstream(folder / "edited") << R"({"style": ")" << style << R"("})";
      fs::rename(folder / "edited", file);
      EXPECT_TRUE(following.reaches("style", style)) << style;
    }
    // Its own writes land in the folder made again.
    following.store.set("vimKeys", true);
    EXPECT_TRUE(following.store.lastWriteSucceeded());
  }
  std::ifstream in(file);
  EXPECT_EQ(DefaultsStore::Value::parse(in), (DefaultsStore::Value{{"style", "flip3d"}, {"vimKeys", true}}));
  fs::remove_all(root);
}

}  // namespace
}  // namespace quorvel
