#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "base/ManualLoop.h"
#include "base/Task.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;

Task<int> leaf(int value) { co_return value * 2; }

Task<int> middle(int value) {
  int a = co_await leaf(value);
  int b = co_await leaf(a);
  co_return a + b;
}

Task<std::string> describe(std::vector<int>* trace) {
  trace->push_back(1);
  int n = co_await middle(1);  // 2 + 4
  trace->push_back(n);
  co_return "n=" + std::to_string(n);
}

Task<void> recordThenYield(std::vector<std::string>* trace, Executor* executor) {
  trace->push_back("started");
  co_await resumeOn(*executor);
  trace->push_back("resumed");
}

// A hand-off that must not wait behind the queue: started on its own executor's thread it runs at
// once up to its first suspension; from elsewhere it waits for its turn like any task.
TEST(Task, SpawnNowStartsAheadOfQueuedJobsOnlyOnItsOwnThread) {
  ManualLoop loop;
  std::vector<std::string> trace;
  loop.main().post([&] { trace.push_back("queued before"); });
  auto handle = spawnNow(loop.main(), recordThenYield(&trace, &loop.main()));
  EXPECT_EQ(trace, std::vector<std::string>{"started"});
  loop.runUntilIdle();
  EXPECT_EQ(trace, (std::vector<std::string>{"started", "queued before", "resumed"}));
  EXPECT_TRUE(handle.isDone());

  trace.clear();
  auto queue = loop.makeSerialQueue("other", QueueQos::userInitiated);
  auto posted = spawnNow(*queue, recordThenYield(&trace, queue.get()));
  EXPECT_TRUE(trace.empty()) << "not the queue's thread: it waits for its turn";
  loop.runUntilIdle();
  EXPECT_EQ(trace, (std::vector<std::string>{"started", "resumed"}));
  EXPECT_TRUE(posted.isDone());
}

TEST(Task, ChildTasksRunInlineAndReturnValues) {
  ManualLoop loop;
  std::vector<int> trace;
  auto handle = spawn(loop.main(), describe(&trace));
  EXPECT_TRUE(trace.empty());  // starts on the executor's next turn
  EXPECT_FALSE(handle.isDone());
  EXPECT_FALSE(handle.result().has_value());
  EXPECT_EQ(loop.runUntilIdle(), 1u);  // the whole chain ran in one job
  EXPECT_TRUE(handle.isDone());
  EXPECT_EQ(handle.result(), "n=6");
  EXPECT_EQ(trace, (std::vector<int>{1, 6}));
}

Task<bool> sleeper(Duration d, Instant* wokeAt, Clock* clock) {
  bool slept = co_await sleepFor(d);
  *wokeAt = clock->now();
  co_return slept;
}

TEST(Task, SleepWaitsOnTheVirtualClock) {
  ManualLoop loop;
  const Instant start = loop.clock().now();
  Instant wokeAt{};
  auto handle = spawn(loop.main(), sleeper(2s, &wokeAt, &loop.clock()));
  loop.advance(1999ms);
  EXPECT_FALSE(handle.isDone());
  loop.advance(1ms);
  ASSERT_TRUE(handle.isDone());
  EXPECT_EQ(handle.result(), true);
  EXPECT_EQ(wokeAt - start, 2s);
}

TEST(Task, CancellationWakesASleepEarlyWithFalse) {
  ManualLoop loop;
  const Instant start = loop.clock().now();
  Instant wokeAt{};
  auto handle = spawn(loop.main(), sleeper(1h, &wokeAt, &loop.clock()));
  loop.advance(5s);
  EXPECT_EQ(loop.pendingTimers(), 1u);
  handle.cancel();
  EXPECT_TRUE(handle.isCancelled());
  loop.runUntilIdle();
  ASSERT_TRUE(handle.isDone());
  EXPECT_EQ(handle.result(), false);
  EXPECT_EQ(wokeAt - start, 5s);
  EXPECT_EQ(loop.pendingTimers(), 0u);  // the timer was withdrawn

  // A task cancelled before it sleeps does not sleep at all.
  auto early = spawn(loop.main(), sleeper(1h, &wokeAt, &loop.clock()));
  early.cancel();
  loop.runUntilIdle();
  EXPECT_EQ(early.result(), false);
}

TEST(Task, AHookSetAfterCancellationRunsAtOnce) {
  ManualLoop loop;
  TaskContext context(&loop.main());
  context.cancel();
  int runs = 0;
  context.setCancelHook([&] { ++runs; });
  EXPECT_EQ(runs, 1);
  context.cancel();  // cancelling again runs nothing
  EXPECT_EQ(runs, 1);
}

Task<int> cancellationAware(int* checks) {
  for (int i = 0; i < 100; ++i) {
    if (co_await isCancelled()) co_return i;
    ++*checks;
    co_await sleepFor(1s);
  }
  co_return -1;
}

TEST(Task, CooperativeCancellationIsSeenByTheTask) {
  ManualLoop loop;
  int checks = 0;
  auto handle = spawn(loop.pool(), cancellationAware(&checks));
  loop.advance(3500ms);
  handle.cancel();
  loop.runUntilIdle();
  EXPECT_EQ(handle.result(), 4);
  EXPECT_EQ(checks, 4);
}

struct Hops {
  std::vector<std::string> where;
};

Task<int> hopper(Executor* serial, Executor* pool, Executor* main, Hops* hops) {
  hops->where.push_back(Executor::current()->label());
  co_await resumeOn(*serial);
  hops->where.push_back(Executor::current()->label());
  Executor& now = co_await currentExecutor();
  hops->where.push_back(now.label());
  int v = co_await runOn(*pool, [pool, hops] {
    hops->where.push_back(Executor::current() == pool ? "in pool" : "not in pool");
    return 41;
  });
  // Back on the task's own executor (the serial queue) after runOn.
  hops->where.push_back(Executor::current()->label());
  co_await runOn(*main, [main, hops] { hops->where.push_back(main->isCurrent() ? "in main" : "not in main"); });
  co_return v + 1;
}

TEST(Task, ResumeOnAndRunOnHopBetweenExecutors) {
  ManualLoop loop;
  auto serial = loop.makeSerialQueue("serial", QueueQos::userInitiated);
  Hops hops;
  auto handle = spawn(loop.main(), hopper(serial.get(), &loop.pool(), &loop.main(), &hops));
  loop.runUntilIdle();
  EXPECT_EQ(handle.result(), 42);
  EXPECT_EQ(hops.where,
            (std::vector<std::string>{"main", "serial", "serial", "in pool", "serial", "in main"}));
}

Task<int> slowValue(Duration d, int value) {
  co_await sleepFor(d);
  co_return value;
}

Task<int> waiter(TaskHandle<int> other, Executor* expected, bool* onHome) {
  auto value = co_await other;
  *onHome = Executor::current() == expected;
  co_return value.value_or(-1) + 1;
}

TEST(Task, AwaitingAHandleWaitsForTheOtherTask) {
  ManualLoop loop;
  auto slow = spawn(loop.pool(), slowValue(1s, 9));
  bool onHome = false;
  auto waiting = spawn(loop.main(), waiter(slow, &loop.main(), &onHome));
  loop.advance(500ms);
  EXPECT_FALSE(waiting.isDone());
  loop.advance(500ms);
  EXPECT_EQ(waiting.result(), 10);
  EXPECT_TRUE(onHome);

  // Awaiting a task that is already done does not suspend.
  auto again = spawn(loop.main(), waiter(slow, &loop.main(), &onHome));
  loop.runUntilIdle();
  EXPECT_EQ(again.result(), 10);
}

TEST(Task, TaskSlotCancelsThePreviousTask) {
  ManualLoop loop;
  Instant first{}, second{};
  TaskSlot slot;
  auto a = slot.start(loop.main(), sleeper(1s, &first, &loop.clock()));
  loop.advance(100ms);
  EXPECT_TRUE(slot.isRunning());
  auto b = slot.start(loop.main(), sleeper(1s, &second, &loop.clock()));
  loop.advance(2s);
  EXPECT_EQ(a.result(), false);
  EXPECT_EQ(b.result(), true);
  EXPECT_FALSE(slot.isRunning());
  {
    TaskSlot scoped;
    auto c = scoped.start(loop.main(), sleeper(1s, &first, &loop.clock()));
    loop.runUntilIdle();
    // Leaving scope cancels the running task.
    a = TaskHandle<bool>();
    b = c;
  }
  loop.runUntilIdle();
  EXPECT_EQ(b.result(), false);
}

struct Canary {
  int* destroyed;
  std::string payload = std::string(100, 'x');  // heap memory that a leaked frame would keep
  ~Canary() { ++*destroyed; }
};

Task<void> holdsCanary(int* destroyed) {
  Canary canary{destroyed};
  co_await sleepFor(24h);
}

Task<void> awaitsChild(int* destroyed) {
  Canary canary{destroyed};
  co_await holdsCanary(destroyed);
}

TEST(Task, DestroyingTheLoopEndsSuspendedTasksWithoutLeaks) {
  int destroyed = 0;
  TaskHandle<void> handle;
  {
    ManualLoop loop;
    handle = spawn(loop.main(), awaitsChild(&destroyed));
    spawn(loop.pool(), holdsCanary(&destroyed));
    loop.advance(1s);
    EXPECT_EQ(destroyed, 0);
  }
  EXPECT_EQ(destroyed, 3);  // both frames of the chain and the second task
  EXPECT_FALSE(handle.isDone());

  // A task spawned but never started is freed with the loop as well.
  {
    ManualLoop loop;
    spawn(loop.pool(), holdsCanary(&destroyed));
  }
  EXPECT_EQ(destroyed, 3);
}

}  // namespace
}  // namespace quorvel
