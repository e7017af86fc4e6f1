#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "base/ManualLoop.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;

TEST(ManualLoop, RunsJobsOfEveryQueueInOnePostOrder) {
  ManualLoop loop;
  auto serial = loop.makeSerialQueue("net.tarmeq.quorvel.test", QueueQos::utility);
  std::vector<std::string> order;
  loop.main().post([&] {
    order.push_back("main1");
    EXPECT_TRUE(loop.main().isCurrent());
    EXPECT_EQ(Executor::current(), &loop.main());
    loop.pool().post([&] { order.push_back("pool2"); });
  });
  loop.pool().post([&] {
    order.push_back("pool1");
    EXPECT_FALSE(loop.main().isCurrent());
    EXPECT_TRUE(loop.pool().isCurrent());
  });
  serial->post([&] {
    order.push_back("serial1");
    EXPECT_TRUE(serial->isCurrent());
  });
  EXPECT_TRUE(order.empty());
  EXPECT_EQ(loop.runUntilIdle(), 4u);
  EXPECT_EQ(order, (std::vector<std::string>{"main1", "pool1", "serial1", "pool2"}));
  // Outside any job the driving thread counts as the main thread.
  EXPECT_TRUE(loop.main().isCurrent());
  EXPECT_EQ(serial->label(), "net.tarmeq.quorvel.test");
}

TEST(ManualLoop, DelayedJobsRunAtTheirDueTimeInDueOrder) {
  ManualLoop loop;
  const Instant start = loop.clock().now();
  std::vector<std::pair<std::string, Duration>> ran;
  auto record = [&](std::string name) {
    return [&ran, &loop, start, name] { ran.emplace_back(name, loop.clock().now() - start); };
  };
  loop.main().postAfter(3s, record("c"));
  loop.pool().postAfter(1s, record("a"));
  loop.main().postAfter(2s, record("b1"));
  loop.main().postAfter(2s, record("b2"));
  loop.pool().postAfter(-5s, record("now"));
  // A job that schedules another one inside the advanced span runs it too.
  loop.main().postAfter(1500ms, [&] { loop.main().postAfter(100ms, record("nested")); });

  loop.advance(2s);
  using R = std::vector<std::pair<std::string, Duration>>;
  EXPECT_EQ(ran, (R{{"now", 0s}, {"a", 1s}, {"nested", 1600ms}, {"b1", 2s}, {"b2", 2s}}));
  EXPECT_EQ(loop.clock().now() - start, 2s);
  EXPECT_EQ(loop.pendingTimers(), 1u);
  EXPECT_TRUE(loop.advanceToNextTimer());
  EXPECT_EQ(ran.back(), (std::pair<std::string, Duration>{"c", 3s}));
  EXPECT_FALSE(loop.advanceToNextTimer());
}

TEST(ManualLoop, CancelledTimersNeverRun) {
  ManualLoop loop;
  int runs = 0;
  TimerId first = loop.main().postAfter(1s, [&] { ++runs; });
  TimerId second = loop.main().postAfter(2s, [&] { runs += 10; });
  EXPECT_NE(first, second);
  EXPECT_TRUE(loop.main().cancel(first));
  EXPECT_FALSE(loop.main().cancel(first));
  loop.advance(5s);
  EXPECT_EQ(runs, 10);
  EXPECT_FALSE(loop.main().cancel(second));  // already ran
}

TEST(ManualLoop, CancellingAJobWhoseCapturesTouchTheLoopDoesNotDeadlock) {
  ManualLoop loop;
  struct Guard {
    Executor* main;
    TimerId other;
    ~Guard() {
      if (main) main->cancel(other);
    }
  };
  bool otherRan = false;
  TimerId other = loop.main().postAfter(2s, [&] { otherRan = true; });
  auto guard = std::make_shared<Guard>(&loop.main(), other);
  TimerId first = loop.main().postAfter(1s, [guard] {});
  guard.reset();
  EXPECT_TRUE(loop.main().cancel(first));
  loop.advance(3s);
  EXPECT_FALSE(otherRan);
}

TEST(ManualLoop, RunUntilStopsWhenThePredicateHoldsOrTheLimitPasses) {
  ManualLoop loop;
  const Instant start = loop.clock().now();
  bool flag = false;
  loop.main().postAfter(300ms, [&] { flag = true; });
  loop.main().postAfter(10s, [] {});
  EXPECT_TRUE(loop.runUntil([&] { return flag; }, 1s));
  EXPECT_EQ(loop.clock().now() - start, 300ms);

  bool never = false;
  EXPECT_FALSE(loop.runUntil([&] { return never; }, 2s));
  EXPECT_EQ(loop.clock().now() - start, 2300ms);
  EXPECT_EQ(loop.pendingTimers(), 1u);
}

TEST(ManualLoop, WorkPostedFromAnotherThreadRunsAtTheNextDrive) {
  ManualLoop loop;
  bool ran = false;
  std::thread other([&] { loop.pool().post([&] { ran = true; }); });
  other.join();
  EXPECT_FALSE(ran);
  loop.runUntilIdle();
  EXPECT_TRUE(ran);
}

}  // namespace
}  // namespace quorvel
