// The settings file through kills and beside other programs: a whole file stands at the path at
// every moment, a kill keeps the newest completed save, and leftovers go at the next start.
// QUORVEL_STORE_KILLS, QUORVEL_STORE_POLL_SAVES and QUORVEL_STORE_RACE_SECONDS make the loops longer
// for a run by hand.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "base/DefaultsFile.h"
#include "base/DefaultsStore.h"
#include "StoreTestFiles.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using Value = DefaultsStore::Value;
using Clock = std::chrono::steady_clock;

struct Folder : storetest::Folder {
  Folder() : storetest::Folder("save") {}
};

using storetest::readBytes;

using storetest::writeBytes;

int countFromEnvironment(const char* name, int fallback) {
  const char* text = std::getenv(name);
  return text && std::atoi(text) > 0 ? std::atoi(text) : fallback;
}

// The leftovers of writes beside the file: everything in the folder but the file itself.
std::vector<std::string> leftovers(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    if (entry.path().filename() != "defaults.json") names.push_back(entry.path().filename());
  }
  return names;
}

std::string hex(size_t value) {
  char buffer[32];
  auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value, 16);
  return std::string(buffer, end);
}

// A writer saving in a loop is killed at random moments; each next start finds a whole file no
// older than the last save the writer saw complete, and no leftover once it has started.
TEST(DefaultsStoreSave, AKillAtAnyMomentKeepsTheNewestCompletedSave) {
  const int kills = countFromEnvironment("QUORVEL_STORE_KILLS", 25);
  Folder folder;
  const auto file = folder.path / "defaults.json";
  std::mt19937 random(std::random_device{}());
  int64_t completed = 0;
  size_t mostLeftAfterKill = 0, killsThatLeftOne = 0, leftAfterStart = 0, older = 0, broken = 0;
  for (int kill = 0; kill < kills; ++kill) {
    int reports[2];
    ASSERT_EQ(::pipe(reports), 0);
    const pid_t writer = ::fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
      ::close(reports[0]);
      DefaultsStore store(file);
      for (int64_t count = store.integer("count") + 1;; ++count) {
        store.setMany({{"count", count}, {"padding", std::string(static_cast<size_t>(count % 4096), 'x')}});
        if (store.lastWriteSucceeded() && ::write(reports[1], &count, sizeof count) != sizeof count) ::_exit(1);
      }
    }
    ::close(reports[1]);
    int64_t count = 0;
    // The first completed save, then a moment anywhere in the saves that follow.
    if (::read(reports[0], &count, sizeof count) == sizeof count) completed = std::max(completed, count);
    std::this_thread::sleep_for(std::chrono::microseconds(std::uniform_int_distribution<int>(0, 3000)(random)));
    ::kill(writer, SIGKILL);
    ::waitpid(writer, nullptr, 0);
    while (::read(reports[0], &count, sizeof count) == sizeof count) completed = std::max(completed, count);
    ::close(reports[0]);
    mostLeftAfterKill = std::max(mostLeftAfterKill, leftovers(folder.path).size());
    killsThatLeftOne += !leftovers(folder.path).empty();

    DefaultsStore next(file);
    const Value onDisk = Value::parse(readBytes(file), nullptr, false);
    if (!onDisk.is_object()) ++broken;
    if (next.integer("count") < completed) ++older;
    leftAfterStart += leftovers(folder.path).size();
  }
  std::printf("kills %d: file not whole %zu, older than the last completed save %zu, leftovers after a kill at "
              "most %zu (%zu kills left one), after the next start %zu\n",
              kills, broken, older, mostLeftAfterKill, killsThatLeftOne, leftAfterStart);
  EXPECT_EQ(broken, 0u);
  EXPECT_EQ(older, 0u);
  EXPECT_LE(mostLeftAfterKill, 1u);
  EXPECT_EQ(leftAfterStart, 0u);
}

// What a stopped save left is settled by the next start that holds the folder: with no file in
// place the newest whole copy goes back, whatever process number its name carries; every other
// leftover goes, except another program's save that a write displaced, which is kept beside unless
// the file holds its values.
TEST(DefaultsStoreSave, LeftoversOfAStoppedSaveAreSettledAtTheNextStart) {
  const std::string based = R"({"v": 2})", written = "{\n  \"v\": 3\n}\n", theirs = R"({"v": 2, "theirs": 1})";
  const auto tmp = [&](const std::string& pid) {
    return "defaults.json.tmp-" + pid + "-1-" + hex(DefaultsFile::hashOf(based)) + "-" +
           hex(DefaultsFile::hashOf(written));
  };
  struct Case {
    const char* label;
    std::optional<std::string> inPlace;
    std::vector<std::pair<std::string, std::string>> left;  // oldest first
    int64_t expected;
    std::vector<std::string> keptBeside;
  };
  const std::vector<Case> cases = {
      {"copies of an earlier version, of a live process number, with no file in place",
       std::nullopt,
       {{"defaults.json.saving-1-1", R"({"v": 1})"}, {"defaults.json.saving-1-2", based}},
       2,
       {}},
      {"an earlier version's copy beside a newer file", written, {{"defaults.json.saving-999999999-1", based}}, 3, {}},
      {"the displaced file after the swap", written, {{tmp("1"), based}}, 3, {}},
      {"the new file before the swap", based, {{tmp("1"), written}}, 2, {}},
      {"a new file cut short", based, {{tmp("1"), written.substr(0, 7)}}, 2, {}},
      {"another program's save displaced", written, {{tmp("1"), theirs}}, 3, {"defaults.json.displaced-"}},
      {"another program's save displaced, whose values the file holds", R"({"v": 2, "theirs": 1, "w": 4})",
       {{tmp("1"), theirs}}, 2, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Folder folder;
    const auto file = folder.path / "defaults.json";
    auto when = fs::file_time_type::clock::now() - std::chrono::hours(1);
    for (const auto& [name, bytes] : c.left) {
      writeBytes(folder.path / name, bytes);
      fs::last_write_time(folder.path / name, when += std::chrono::minutes(1));
    }
    if (c.inPlace) writeBytes(file, *c.inPlace);
    DefaultsStore store(file);
    EXPECT_EQ(store.integer("v"), c.expected);
    std::vector<std::string> left = leftovers(folder.path);
    ASSERT_EQ(left.size(), c.keptBeside.size());
    for (size_t i = 0; i < left.size(); ++i) {
      EXPECT_EQ(left[i].rfind(c.keptBeside[i], 0), 0u) << left[i];
      EXPECT_EQ(readBytes(folder.path / left[i]), theirs);
    }
  }
}

// A reader polling the file as fast as it can: it counts reads that found it missing or partial,
// and those that found an older copy (one whose "theirs" is lower than one it read before).
struct PollingReader {
  explicit PollingReader(const fs::path& file)
      : thread([this, file] {
          int64_t newest = 0;
          bool older = false;
          Clock::time_point olderSince{};
          while (!done) {
            const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
            ++reads;
            if (fd < 0) {
              ++missing;
              continue;
            }
            std::string bytes;
            char buffer[8192];
            for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;) bytes.append(buffer, static_cast<size_t>(n));
            ::close(fd);
            const Value values = Value::parse(bytes, nullptr, false);
            if (!values.is_object()) {
              ++partial;
              continue;
            }
            const int64_t theirs = values.value("theirs", int64_t{0});
            if (theirs < newest) {
              ++olderReads;
              if (!older) older = true, olderSince = Clock::now(), ++olderTimes;
            } else {
              newest = theirs;
              if (older) longestOlder = std::max(longestOlder, Clock::now() - olderSince);
              older = false;
            }
          }
        }) {}
  void stop() {
    done = true;
    thread.join();
  }
  std::string figures() const {
    char text[200];
    std::snprintf(text, sizeof text, "%lld reads, missing %lld, partial %lld, an older copy %lld times (%lld reads), "
                  "the longest %.3f ms", static_cast<long long>(reads), static_cast<long long>(missing),
                  static_cast<long long>(partial), static_cast<long long>(olderTimes),
                  static_cast<long long>(olderReads), std::chrono::duration<double, std::milli>(longestOlder).count());
    return text;
  }

  std::atomic<bool> done{false};
  int64_t reads = 0, missing = 0, partial = 0, olderReads = 0, olderTimes = 0;
  Clock::duration longestOlder{};
  std::thread thread;
};

// A script's save: read the file, set its own key, write a new file and rename it over.
void saveByRename(const fs::path& file, int64_t theirs) {
  Value values = Value::parse(readBytes(file), nullptr, false);
  if (!values.is_object()) values = Value::object();
  values["theirs"] = theirs;
  const auto side = file.parent_path().parent_path() / (file.parent_path().filename().string() + ".other");
  writeBytes(side, values.dump());
  fs::rename(side, file);
}

// A reader polling the file while the store saves and another program saves by rename in a loop
// never finds it missing or partial; a moment in which it holds an older copy is counted.
TEST(DefaultsStoreSave, AWholeFileStandsAtThePathAtEveryMoment) {
  const int saves = countFromEnvironment("QUORVEL_STORE_POLL_SAVES", 60);
  Folder folder;
  const auto file = folder.path / "defaults.json";
  DefaultsStore store(file);
  store.set("count", 0);

  PollingReader reader(file);
  std::atomic<bool> done{false};
  std::thread other([&] {
    for (int64_t theirs = 1; !done; ++theirs) {
      saveByRename(file, theirs);
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  });
  int saved = 0;
  const auto start = Clock::now();
  for (int count = 1; count <= saves; ++count) {
    store.set("count", count);
    saved += store.lastWriteSucceeded();
  }
  const auto took = Clock::now() - start;
  done = true;
  other.join();
  reader.stop();
  std::printf("%d saves (%d saved) in %.1f s beside another program's saves: %s\n", saves, saved,
              std::chrono::duration<double>(took).count(), reader.figures().c_str());
  EXPECT_EQ(reader.missing, 0);
  EXPECT_EQ(reader.partial, 0);
  EXPECT_GT(saved, 0);
}

// Another program saves by rename as fast as it can, a counter in its own key, while the store
// saves every 2 ms: once it stops, the file and the store hold its last save (neither a swap back
// nor a save the store displaced brings an older one back), and after the store's next start
// nothing stands beside the file. QUORVEL_STORE_RACE_SECONDS runs it that long (and then asks that
// a polling reader find an older copy in at most 0.1 % of its reads) instead of 2,000 saves.
TEST(DefaultsStoreSave, AnotherProgramsLastSaveIsNeverUndone) {
  const int seconds = countFromEnvironment("QUORVEL_STORE_RACE_SECONDS", 0);
  Folder folder;
  const auto file = folder.path / "defaults.json";
  std::optional<DefaultsStore> store(std::in_place, file);
  store->set("count", 0);

  PollingReader reader(file);
  std::atomic<bool> done{false};
  int64_t last = 0;
  std::thread other([&] {
    const auto until = Clock::now() + std::chrono::seconds(seconds);
    for (int64_t theirs = 1; seconds ? Clock::now() < until : theirs <= 2000; ++theirs) {
      saveByRename(file, last = theirs);
    }
    done = true;
  });
  int saves = 0, saved = 0;
  for (; !done; ++saves) {
    store->set("count", saves);
    saved += store->lastWriteSucceeded();
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  other.join();
  store->set("count", -1);
  EXPECT_TRUE(store->lastWriteSucceeded());
  reader.stop();
  std::printf("%lld saves of another program, %d of the store (%d saved): %s\n", static_cast<long long>(last), saves,
              saved, reader.figures().c_str());
  EXPECT_EQ(Value::parse(readBytes(file), nullptr, false).value("theirs", int64_t{0}), last);
  EXPECT_EQ(store->integer("theirs"), last);
  EXPECT_EQ(reader.missing + reader.partial, 0);
  if (seconds) {
    EXPECT_LE(reader.olderReads * 1000, reader.reads);
  }

  store.reset();
  const int64_t leftBeforeStart = static_cast<int64_t>(leftovers(folder.path).size());
  DefaultsStore next(file);
  const auto left = leftovers(folder.path);
  std::printf("beside the file: %lld before the next start, %zu after\n", static_cast<long long>(leftBeforeStart),
              left.size());
  EXPECT_LE(left.size(), 2u);
  EXPECT_EQ(next.integer("theirs"), last);
}

}  // namespace
}  // namespace quorvel
