#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "windows/LeaveCaptures.h"
#include "windows/RecencyOrder.h"
#include "windows/TabCache.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;
using Ids = std::vector<uint32_t>;

const Instant kStart{};

TEST(RecencyOrder, KeepsAtMostItsLimitWithNoWindowTwice) {
  RecencyOrder order;
  for (uint32_t id = 1; id <= 70; ++id) order.visit(id, kStart);
  order.visit(30, kStart + 1s);
  ASSERT_EQ(order.entries().size(), RecencyOrder::kLimit);
  const Ids ids = order.ids();
  EXPECT_EQ(order.head(), 30u);
  EXPECT_EQ(ids[1], 70u);
  EXPECT_EQ(ids.back(), 7u) << "the oldest visits went";
  EXPECT_EQ(std::count(ids.begin(), ids.end(), 30u), 1);
  EXPECT_EQ(order.visitCounter(), 71u);
  EXPECT_EQ(order.visitTicks().at(30), 71u);
  EXPECT_EQ(order.ranks().at(70), 1);

  order.keepOnly({30, 70});
  EXPECT_EQ(order.ids(), (Ids{30, 70}));
  EXPECT_EQ(order.visitTicks().size(), 2u) << "forgotten windows lose their ticks";
  order.clear();
  EXPECT_EQ(order.head(), std::nullopt);
}

TEST(LeaveCaptures, QueueAtMostEightNoneTwiceAndDebounced) {
  LeaveCaptures captures;
  for (uint32_t id = 1; id <= 10; ++id) captures.noteLeft(id, kStart);
  EXPECT_EQ(captures.pending(), (Ids{3, 4, 5, 6, 7, 8, 9, 10}));
  captures.noteLeft(4, kStart + 1s);
  EXPECT_EQ(captures.pending().back(), 10u) << "queued less than two seconds ago";
  captures.noteLeft(4, kStart + LeaveCaptures::kDebounce);
  EXPECT_EQ(captures.pending(), (Ids{3, 5, 6, 7, 8, 9, 10, 4})) << "moved to the end, not twice";
  EXPECT_EQ(captures.takePending().size(), 8u);
  EXPECT_TRUE(captures.pending().empty());

  captures.keepOnly({});
  captures.noteLeft(4, kStart + LeaveCaptures::kDebounce + 1s);
  EXPECT_EQ(captures.pending(), (Ids{4})) << "a forgotten window is not debounced";
}

TEST(TabCache, ServesOnlyTheSameFingerprintWithTheTitlesThePassNeeds) {
  TabCache cache;
  cache.record(100, TabCache::Entry{.fingerprint = 7, .readPrivateTitles = false});
  EXPECT_TRUE(cache.served(100, 7, false));
  EXPECT_FALSE(cache.served(100, 8, false)) << "the browser's windows changed";
  EXPECT_FALSE(cache.served(100, 7, true)) << "read without the private titles the pass needs";
  EXPECT_TRUE(cache.remembered(100)) << "still there for hosts whose walk fails";
  cache.record(200, TabCache::Entry{.fingerprint = 1, .readPrivateTitles = true});
  EXPECT_TRUE(cache.served(200, 1, true));
  EXPECT_TRUE(cache.served(200, 1, false));

  cache.record(200, std::nullopt);
  EXPECT_FALSE(cache.remembered(200)) << "an answer that may not be kept forgets the old one";
  cache.keepOnly({300});
  EXPECT_TRUE(cache.empty());
}

}  // namespace
}  // namespace quorvel
