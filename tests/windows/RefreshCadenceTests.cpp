#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <thread>
#include <vector>

#include "ax/FrameMatch.h"
#include "windows/ChromeWindowCensus.h"
#include "windows/RefreshCadence.h"
#include "windows/RoundRobin.h"

namespace quorvel {
namespace {

constexpr double kNever = std::numeric_limits<double>::infinity();

TEST(RefreshCadence, FastWhileInputOrWorkspaceNewsIsUnderAMinuteOld) {
  const Duration fast = RefreshCadence::kFast;
  const Duration slow = RefreshCadence::kSlow;
  EXPECT_EQ(fast, std::chrono::seconds(2));
  EXPECT_EQ(slow, std::chrono::seconds(10));

  EXPECT_EQ(RefreshCadence::interval(30, kNever), fast);
  EXPECT_EQ(RefreshCadence::interval(90, kNever), slow);
  EXPECT_EQ(RefreshCadence::interval(90, 20), fast);
  EXPECT_EQ(RefreshCadence::interval(20, 90), fast);
  EXPECT_EQ(RefreshCadence::interval(90, 90), slow);
  EXPECT_EQ(RefreshCadence::interval(59.9, 75), fast);
  EXPECT_EQ(RefreshCadence::interval(60, 60), slow);
  // A notification in the current second.
  EXPECT_EQ(RefreshCadence::interval(500, 0), fast);
  EXPECT_EQ(RefreshCadence::interval(0.5, 0), fast);
  // Idle time unavailable is read as 0 by the caller.
  EXPECT_EQ(RefreshCadence::interval(0, kNever), fast);
  EXPECT_EQ(RefreshCadence::interval(0, 0), fast);
  EXPECT_EQ(RefreshCadence::interval(0, 3600), fast);
  // Nonsense idle readings stay fast.
  EXPECT_EQ(RefreshCadence::interval(-1, kNever), fast);
  EXPECT_EQ(RefreshCadence::interval(NAN, kNever), fast);
  EXPECT_EQ(RefreshCadence::interval(90, NAN), slow);
}

TEST(RoundRobin, NextCandidateAboveThePreviousWrappingRound) {
  const std::vector<int32_t> candidates = {98, 412, 97, 1200};
  EXPECT_EQ(roundRobinNext(412, candidates), 1200);
  EXPECT_EQ(roundRobinNext(1200, candidates), 97);
  EXPECT_EQ(roundRobinNext(std::nullopt, candidates), 97);
  EXPECT_EQ(roundRobinNext(97, candidates), 98);
  EXPECT_EQ(roundRobinNext(5000, candidates), 97);
  EXPECT_EQ(roundRobinNext(100, candidates), 412) << "the previous one need not be a candidate";
  EXPECT_EQ(roundRobinNext(412, {}), std::nullopt);
  EXPECT_EQ(roundRobinNext(std::nullopt, {}), std::nullopt);
  EXPECT_EQ(roundRobinNext(-5, {3, -7, 3}), 3);
}

TEST(FrameMatch, IgnoresFractionsOfAPoint) {
  EXPECT_TRUE(FrameMatch::framesMatch({10.4, 20.0, 300.9, 200.0}, {10.0, 20.7, 300.0, 200.2}));
  EXPECT_FALSE(FrameMatch::framesMatch({10.0, 20.0, 300.0, 200.0}, {11.0, 20.0, 300.0, 200.0}));
  EXPECT_TRUE(FrameMatch::framesMatch({-0.7, 0, 10, 10}, {0.3, 0, 10, 10}));
  EXPECT_TRUE(FrameMatch::framesMatch({10.9, 0, 10, 10}, {10.0, 0, 10, 10}));
  EXPECT_FALSE(FrameMatch::framesMatch({10.9, 0, 10, 10}, {11.0, 0, 10, 10}));
  EXPECT_TRUE(FrameMatch::framesMatch({0, 0, NAN, 10}, {0, 0, 0, 10}));
  EXPECT_TRUE(FrameMatch::framesMatch({0, INFINITY, 5, 10}, {0, 0, 5, 10}));
  EXPECT_TRUE(FrameMatch::framesMatch({0, 1e300, 5, 10}, {0, 0, 5, 10})) << "out of range counts as 0";
  // Origins compared directly, sizes by magnitude.
  EXPECT_TRUE(FrameMatch::framesMatch({100, 0, -50, 40}, {100, 0, 50, 40}));
  EXPECT_FALSE(FrameMatch::framesMatch({100, 0, -50, 40}, {50, 0, 50, 40}));
}

TEST(FrameMatch, TruncationStaysWithinRange) {
  EXPECT_EQ(FrameMatch::truncated(-2.9), -2);
  EXPECT_EQ(FrameMatch::truncated(9.2e18), 9200000000000000000);
  EXPECT_EQ(FrameMatch::truncated(9.3e18), 0);
  EXPECT_EQ(FrameMatch::truncated(-9.223372036854775808e18), std::numeric_limits<int64_t>::min());
  EXPECT_EQ(FrameMatch::truncated(-INFINITY), 0);
}

TEST(ChromeWindowCensus, HoldsOpenWindowNumbersFromAnyThread) {
  ChromeWindowCensus census;
  census.windowOpened(0);
  EXPECT_TRUE(census.openWindowNumbers().empty()) << "0 names no window";

  std::vector<std::thread> threads;
  for (uint32_t t = 0; t < 4; ++t) {
    threads.emplace_back([&census, t] {
      for (uint32_t i = 1; i <= 200; ++i) {
        census.windowOpened(t * 1000 + i);
        if (i % 2 == 0) census.windowClosed(t * 1000 + i);
        (void)census.openWindowNumbers();
      }
    });
  }
  for (auto& thread : threads) thread.join();
  const auto open = census.openWindowNumbers();
  EXPECT_EQ(open.size(), 400u);
  EXPECT_TRUE(open.contains(1));
  EXPECT_FALSE(open.contains(2));
}

}  // namespace
}  // namespace quorvel
