#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "base/JobSchedule.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;

void drain(JobSchedule& schedule) {
  while (auto job = schedule.takeReady()) (*job)();
}

TEST(JobSchedule, PromotesDueJobsInDueThenScheduleOrder) {
  JobSchedule schedule;
  std::vector<int> ran;
  schedule.schedule(Instant(20s), [&] { ran.push_back(3); });
  schedule.schedule(Instant(10s), [&] { ran.push_back(1); });
  schedule.schedule(Instant(10s), [&] { ran.push_back(2); });
  schedule.post([&] { ran.push_back(0); });
  EXPECT_EQ(schedule.nextDue(), Instant(10s));
  EXPECT_EQ(schedule.promoteDue(Instant(15s)), 2u);
  drain(schedule);
  EXPECT_EQ(ran, (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(schedule.pendingTimers(), 1u);
  EXPECT_EQ(schedule.nextDue(), Instant(20s));
}

TEST(JobSchedule, CancelHandsTheJobBackAndSkipsItsSlot) {
  JobSchedule schedule;
  int runs = 0;
  TimerId a = schedule.schedule(Instant(1s), [&] { runs += 1; });
  schedule.schedule(Instant(2s), [&] { runs += 10; });
  EXPECT_NE(a, 0u);
  EXPECT_TRUE(schedule.cancel(a).has_value());
  EXPECT_FALSE(schedule.cancel(a).has_value());
  EXPECT_EQ(schedule.nextDue(), Instant(2s));
  schedule.promoteDue(Instant(5s));
  drain(schedule);
  EXPECT_EQ(runs, 10);
  EXPECT_FALSE(schedule.nextDue().has_value());
}

TEST(JobSchedule, ManyCancelledTimersDoNotDisturbTheLiveOnes) {
  JobSchedule schedule;
  std::vector<int> ran;
  for (int i = 0; i < 500; ++i) {
    TimerId id = schedule.schedule(Instant(std::chrono::seconds(i % 7)), [] { FAIL() << "cancelled job ran"; });
    if (i % 50 == 0) schedule.schedule(Instant(std::chrono::seconds(i)), [&ran, i] { ran.push_back(i); });
    ASSERT_TRUE(schedule.cancel(id).has_value());
  }
  EXPECT_EQ(schedule.pendingTimers(), 10u);
  schedule.promoteDue(Instant(1000s));
  drain(schedule);
  EXPECT_EQ(ran, (std::vector<int>{0, 50, 100, 150, 200, 250, 300, 350, 400, 450}));
  EXPECT_EQ(schedule.takeAll().size(), 0u);
}

}  // namespace
}  // namespace quorvel
