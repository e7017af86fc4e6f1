#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "base/SystemClock.h"
#include "base/VirtualClock.h"
#include "scene/render/FrameClock.h"

namespace quorvel {
namespace {

// The clock stands still between the slots of a one-frame-a-second link, so an update that arrives
// can only be the one an unpause owes at once; a link that waited for its next slot would never
// deliver it.
TEST(FrameClockTest, EachUnpauseDeliversAnUpdateAtOnceNotAtTheNextSlot) {
  VirtualClock clock(Instant{} + fromSeconds(10.5));
  FrameClock link(clock, 1);
  std::mutex mutex;
  std::condition_variable arrived;
  std::vector<double> updates;
  std::thread thread([&] {
    link.run([&](const DisplayLinkUpdate& update) {
      {
        std::lock_guard lock(mutex);
        updates.push_back(update.targetTimestamp);
      }
      arrived.notify_all();
    });
  });
  auto waitFor = [&](size_t count) {
    std::unique_lock lock(mutex);
    return arrived.wait_for(lock, std::chrono::seconds(10), [&] { return updates.size() >= count; });
  };

  link.setPaused(false);
  EXPECT_TRUE(waitFor(1));
  link.setPaused(true);
  clock.advance(fromSeconds(2.25));
  link.setPaused(false);
  EXPECT_TRUE(waitFor(2));
  link.setPaused(false);  // already running: owes nothing more
  link.stop();
  thread.join();

  ASSERT_EQ(updates.size(), 2u);
  EXPECT_DOUBLE_EQ(updates[0], 10.5) << "due now, not at 11";
  EXPECT_DOUBLE_EQ(updates[1], 12.75);
}

// A task runs on the link's thread while it is paused (as the overlay's stop lets go of its surface's
// images there, between frames).
TEST(FrameClockTest, ATaskRunsOnTheLinksThreadWhilePaused) {
  VirtualClock clock(Instant{} + fromSeconds(1));
  FrameClock link(clock, 1);
  std::thread thread([&] { link.run([](const DisplayLinkUpdate&) {}); });
  std::mutex mutex;
  std::condition_variable ran;
  std::thread::id where;
  link.perform([&] {
    std::lock_guard lock(mutex);
    where = std::this_thread::get_id();
    ran.notify_all();
  });
  {
    std::unique_lock lock(mutex);
    EXPECT_TRUE(ran.wait_for(lock, std::chrono::seconds(10), [&] { return where != std::thread::id{}; }));
  }
  link.stop();
  const std::thread::id linkThread = thread.get_id();
  thread.join();
  EXPECT_EQ(where, linkThread);
}

// A cap holds whatever rate the display asks for later: the slots after the first update are those
// of the capped rate.
TEST(FrameClockTest, ACappedClockKeepsToItsMaximumRate) {
  FrameClock link(SystemClock::shared(), 60, 30);
  link.setRefreshRate(120);
  std::vector<double> updates;
  std::thread thread([&] {
    link.run([&](const DisplayLinkUpdate& update) {
      updates.push_back(update.targetTimestamp);
      if (updates.size() == 4) link.stop();
    });
  });
  link.setPaused(false);
  thread.join();
  ASSERT_EQ(updates.size(), 4u);
  const int64_t period = FrameClock::periodFor(30).count();
  for (size_t i = 1; i < updates.size(); ++i) {
    const int64_t slot = std::llround(updates[i] * 1e9);
    EXPECT_LE(std::abs(slot - std::llround(double(slot) / double(period)) * period), 1000) << i;
    if (i >= 2) {
      EXPECT_GE(updates[i] - updates[i - 1], 1.0 / 30 - 1e-6) << i;
    }
  }
}

}  // namespace
}  // namespace quorvel
