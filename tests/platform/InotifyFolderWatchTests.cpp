#include "platform/InotifyFolderWatch.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <condition_variable>
#include <fstream>

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

}  // namespace
}  // namespace quorvel
