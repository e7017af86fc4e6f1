#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <atomic>
#include <functional>
#include <optional>
#include <chrono>
#include <thread>
#include <vector>

#include "base/SystemClock.h"
#include "base/Task.h"
#include "platform/qt/QtMainQueue.h"
#include "platform/qt/QtRuntime.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;

// Runs Qt's event loop until `done` holds or 5 s pass.
template <class P>
bool spinUntil(P done) {
  QElapsedTimer timer;
  timer.start();
  while (!done() && timer.elapsed() < 5000) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  return done();
}

TEST(QtMainQueue, JobsFromAnyThreadRunOnTheLoopInOrderAndTimersWhenDue) {
  ASSERT_TRUE(QCoreApplication::instance());
  QtMainQueue queue(SystemClock::shared());
  std::vector<int> order;
  std::atomic<int> offThread{0};
  EXPECT_TRUE(queue.isCurrent());

  queue.post([&] { order.push_back(1); });
  std::thread other([&] {
    queue.post([&] {
      offThread += queue.isCurrent() ? 1 : 100;
      order.push_back(2);
    });
    queue.postAfter(10ms, [&] { order.push_back(3); });
  });
  other.join();
  // Posted once the other thread's timer is: it falls due later however late that thread ran.
  const Instant start = SystemClock::shared().now();
  Instant late = start;
  queue.postAfter(60ms, [&] {
    late = SystemClock::shared().now();
    order.push_back(4);
  });
  const TimerId cancelled = queue.postAfter(30ms, [&] { order.push_back(99); });
  EXPECT_TRUE(queue.cancel(cancelled));
  EXPECT_FALSE(queue.cancel(cancelled));
  EXPECT_TRUE(order.empty()) << "nothing runs outside the event loop";

  ASSERT_TRUE(spinUntil([&] { return order.size() >= 4; }));
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));
  EXPECT_EQ(offThread.load(), 1) << "the job ran on the loop's thread";
  EXPECT_GE(late - start, Instant(60ms)) << "a delayed job never runs early";
}

// Work that goes on by posting its next step, one step a turn, leaves room for a job that falls due:
// the delayed job runs after a few steps, not after a whole turn's worth of them.
TEST(QtMainQueue, AJobPostingItsNextStepDoesNotHoldBackTimers) {
  QtMainQueue queue(SystemClock::shared());
  int steps = 0;
  std::optional<int> stepsWhenDue;
  bool stop = false;
  std::function<void()> step = [&] {
    ++steps;
    const Instant until = SystemClock::shared().now() + 1ms;
    while (SystemClock::shared().now() < until) {
    }
    if (!stop) queue.post(step);
  };
  queue.postAfter(10ms, [&] {
    stepsWhenDue = steps;
    stop = true;
  });
  queue.post(step);
  ASSERT_TRUE(spinUntil([&] { return stepsWhenDue.has_value(); }));
  EXPECT_LT(*stepsWhenDue, 128);
}

Task<int> hop(Executor& pool, Executor& main) {
  co_await resumeOn(pool);
  const bool onPool = !main.isCurrent();
  co_await resumeOn(main);
  co_return onPool && main.isCurrent() ? 1 : 0;
}

TEST(QtRuntime, TasksHopBetweenThePoolAndTheLoop) {
  QtRuntime runtime;
  std::optional<int> result;
  auto handle = spawn(runtime.main(), hop(runtime.pool(), runtime.main()));
  bool slept = false;
  runtime.main().post([&] { slept = true; });
  ASSERT_TRUE(spinUntil([&] { return handle.isDone() && slept; }));
  result = handle.result();
  EXPECT_EQ(result, 1);
}

}  // namespace
}  // namespace quorvel
