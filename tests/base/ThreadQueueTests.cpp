#include <gtest/gtest.h>
#include <pthread.h>

#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/LogCapture.h"
#include "base/LogHub.h"
#include "base/SystemClock.h"
#include "base/Task.h"
#include "base/ThreadName.h"
#include "base/ThreadQueue.h"
#include "base/ThreadRuntime.h"
#include "base/VirtualClock.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;

// Waits (in real time, bounded) until `predicate` holds.
template <class P>
bool waitFor(P predicate, std::chrono::milliseconds limit = 2000ms) {
  auto end = std::chrono::steady_clock::now() + limit;
  while (!predicate()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

TEST(ThreadQueue, SerialQueueNeverOverlapsJobsAndKeepsEachSendersOrder) {
  ThreadQueue queue("serial-test", QueueQos::userInitiated, SystemClock::shared());
  std::atomic<int> active{0};
  std::atomic<bool> overlapped{false};
  std::vector<std::pair<int, int>> seen;  // only touched inside jobs
  auto submit = [&](int sender) {
    for (int i = 0; i < 300; ++i) {
      queue.post([&, sender, i] {
        if (active.fetch_add(1) != 0) overlapped = true;
        EXPECT_TRUE(queue.isCurrent());
        seen.emplace_back(sender, i);
        if (i % 50 == 0) std::this_thread::yield();
        active.fetch_sub(1);
      });
    }
  };
  std::thread a(submit, 0);
  std::thread b(submit, 1);
  a.join();
  b.join();
  EXPECT_FALSE(queue.isCurrent());
  queue.shutdown();  // finishes the queued work
  EXPECT_FALSE(overlapped);
  ASSERT_EQ(seen.size(), 600u);
  int next[2] = {0, 0};
  for (auto [sender, i] : seen) EXPECT_EQ(i, next[sender]++);
}

TEST(ThreadQueue, ThreadsCarryTheLabelAndThePoolRunsInParallel) {
  ThreadQueue pool("a-rather-long-queue-label", QueueQos::utility, SystemClock::shared(), 4);
  EXPECT_EQ(pool.threadCount(), 4u);
  std::mutex mutex;
  std::condition_variable allStarted;
  int started = 0;
  bool sawEveryone = true;
  std::vector<std::string> names;
  for (int i = 0; i < 4; ++i) {
    pool.post([&] {
      char name[32] = {};
      pthread_getname_np(pthread_self(), name, sizeof name);
      std::unique_lock lock(mutex);
      names.emplace_back(name);
      ++started;
      allStarted.notify_all();
      // Only returns once all four run at once: four threads really work in parallel.
      if (!allStarted.wait_for(lock, 2s, [&] { return started == 4; })) sawEveryone = false;
    });
  }
  pool.shutdown();
  EXPECT_TRUE(sawEveryone);
  ASSERT_EQ(names.size(), 4u);
  for (const auto& name : names) EXPECT_EQ(name, "a-rathe~e-label") << "shortened, not cut";
}

TEST(ThreadQueue, DelayedJobsRunInDueOrderAndCanBeCancelled) {
  // On a clock that moves only when told, however late this thread is scheduled.
  VirtualClock clock;
  ThreadQueue queue("delays", QueueQos::userInteractive, clock);
  const Instant start = clock.now();
  std::mutex mutex;
  std::vector<std::pair<int, Duration>> ran;
  auto record = [&](int tag) {
    return [&, tag] {
      std::lock_guard lock(mutex);
      ran.emplace_back(tag, clock.now() - start);
    };
  };
  auto ranCount = [&] {
    std::lock_guard lock(mutex);
    return ran.size();
  };
  queue.postAfter(30ms, record(3));
  TimerId cancelled = queue.postAfter(20ms, record(99));
  queue.postAfter(10ms, record(1));
  queue.postAfter(10ms, record(2));
  queue.post(record(0));
  EXPECT_TRUE(queue.cancel(cancelled));
  EXPECT_FALSE(queue.cancel(cancelled));
  ASSERT_TRUE(waitFor([&] { return ranCount() == 1; }));
  clock.advance(10ms);
  ASSERT_TRUE(waitFor([&] { return ranCount() == 3; }));
  clock.advance(20ms);
  ASSERT_TRUE(waitFor([&] { return ranCount() == 4; }));
  queue.shutdown();
  const std::vector<std::pair<int, Duration>> expected{{0, 0ms}, {1, 10ms}, {2, 10ms}, {3, 30ms}};
  EXPECT_EQ(ran, expected) << "the cancelled job, due between them, never ran";
}

TEST(ThreadQueue, ShutdownFinishesReadyWorkAndDropsLaterPosts) {
  auto queue = std::make_unique<ThreadQueue>("shutdown", QueueQos::background, SystemClock::shared(), 2);
  std::atomic<int> count{0};
  for (int i = 0; i < 100; ++i) queue->post([&] {
    if (++count == 50) queue->post([&] { count += 1000; });  // posted while draining: still runs
  });
  queue->postAfter(1h, [&] { count += 1'000'000; });  // not due: dropped
  queue->shutdown();
  EXPECT_EQ(count, 1100);
  queue->post([&] { ++count; });
  EXPECT_EQ(queue->postAfter(1ms, [&] { ++count; }), 0u);
  queue->shutdown();
  queue.reset();
  EXPECT_EQ(count, 1100);
}

// Whether the thread with kernel id `tid` of this process still runs.
bool threadRuns(pid_t tid) { return std::filesystem::exists("/proc/self/task/" + std::to_string(tid)); }

TEST(ThreadQueue, AJobMayDestroyItsOwnQueue) {
  LogHub::shared().setStandardErrorEnabled(false);
  LogCapture capture;
  for (size_t threads : {size_t{1}, size_t{3}}) {
    SCOPED_TRACE(threads);
    auto holder = std::make_shared<ThreadQueue>("self-ending", QueueQos::utility, SystemClock::shared(), threads);
    std::promise<void> go;
    std::promise<pid_t> ended;
    std::atomic<int> ranAfter{0};
    holder->post([&, wait = go.get_future().share()] {
      wait.wait();
      holder.reset();  // the last reference goes inside the queue's own job
      ended.set_value(gettid());  // and the job goes on
    });
    auto endedTid = ended.get_future();
    for (int i = 0; i < 3; ++i) holder->post([&ranAfter] { ++ranAfter; });
    holder->postAfter(1h, [&ranAfter] { ++ranAfter; });
    go.set_value();
    const pid_t tid = endedTid.get();
    // The thread that ran the job ends by itself, after reading nothing of the queue (a sanitizer
    // build reports any read of the freed queue from it).
    ASSERT_TRUE(waitFor([&] { return !threadRuns(tid); }, 10s));
    if (threads == 1) {
      EXPECT_EQ(ranAfter, 0) << "the serial queue's later work is dropped";
    }
  }
  LogHub::shared().setStandardErrorEnabled(true);
  EXPECT_TRUE(capture.contains("Queue self-ending shut down from its own thread; the work still queued is dropped"));
}

Task<std::vector<std::string>> roundTrip(ThreadRuntime* runtime, Executor* serial) {
  std::vector<std::string> trace;
  trace.push_back(Executor::current() == &runtime->pool() ? "pool" : "?");
  auto onSerial = co_await runOn(*serial, [serial] { return serial->isCurrent() && !Executor::current()->label().empty(); });
  trace.push_back(onSerial ? "serial" : "?");
  trace.push_back(Executor::current() == &runtime->pool() ? "pool" : "?");
  co_await resumeOn(runtime->main());
  trace.push_back(runtime->main().isCurrent() && runtime->isMainThread() ? "main" : "?");
  bool slept = co_await sleepFor(5ms);
  trace.push_back(slept && runtime->main().isCurrent() ? "slept on main" : "?");
  co_return trace;
}

TEST(ThreadRuntime, TasksHopFromPoolToSerialQueueAndBackToMain) {
  ThreadRuntime runtime;
  auto serial = runtime.makeSerialQueue("net.tarmeq.quorvel.ax", QueueQos::userInitiated);
  EXPECT_TRUE(runtime.isMainThread());
  auto handle = spawn(runtime.pool(), roundTrip(&runtime, serial.get()));
  ASSERT_TRUE(runtime.runMainUntil([&] { return handle.isDone(); }, 2s));
  EXPECT_EQ(handle.result(),
            (std::vector<std::string>{"pool", "serial", "pool", "main", "slept on main"}));
}

Task<bool> longSleep() { co_return co_await sleepFor(1h); }

TEST(ThreadRuntime, CancellingFromAnotherThreadWakesASleepingTask) {
  ThreadRuntime runtime;
  auto handle = spawn(runtime.main(), longSleep());
  runtime.pool().postAfter(10ms, [handle] { handle.cancel(); });
  ASSERT_TRUE(runtime.runMainUntil([&] { return handle.isDone(); }, 2s));
  EXPECT_EQ(handle.result(), false);
}

TEST(ThreadRuntime, CancellingRightAfterSpawnNeverLeavesASleepHanging) {
  ThreadRuntime runtime;
  std::vector<TaskHandle<bool>> handles;
  for (int i = 0; i < 200; ++i) {
    handles.push_back(spawn(runtime.pool(), longSleep()));
    if (i % 3 == 0) std::this_thread::yield();
    handles.back().cancel();
  }
  ASSERT_TRUE(runtime.runMainUntil(
      [&] { return std::all_of(handles.begin(), handles.end(), [](auto& h) { return h.isDone(); }); }, 2s));
  for (auto& h : handles) EXPECT_EQ(h.result(), false);
}

TEST(ThreadRuntime, MainLoopRunsTimersQuitsAndTimesOut) {
  ThreadRuntime runtime;
  std::vector<int> order;
  // The quit comes from another thread once the timer has run, however late the loop gets to it.
  runtime.main().postAfter(10ms, [&] {
    order.push_back(2);
    runtime.pool().post([&] { runtime.quitMain(); });
  });
  runtime.main().post([&] { order.push_back(1); });
  TimerId dropped = runtime.main().postAfter(5ms, [&] { order.push_back(99); });
  EXPECT_TRUE(runtime.main().cancel(dropped));
  runtime.runMain();
  EXPECT_EQ(order, (std::vector<int>{1, 2}));

  const Instant before = runtime.clock().now();
  EXPECT_FALSE(runtime.runMainUntil([] { return false; }, 15ms));
  EXPECT_GE(runtime.clock().now() - before, 15ms);

  // Only the thread that made the runtime may drive the main queue.
  LogHub::shared().setStandardErrorEnabled(false);
  LogCapture capture;
  bool fromOther = true;
  bool mainCurrentElsewhere = true;
  std::thread other([&] {
    mainCurrentElsewhere = runtime.main().isCurrent();
    fromOther = runtime.runMainUntil([] { return true; }, 1ms);
  });
  other.join();
  LogHub::shared().setStandardErrorEnabled(true);
  EXPECT_TRUE(capture.contains("runMainUntil called off the main thread"));
  EXPECT_FALSE(fromOther);
  EXPECT_FALSE(mainCurrentElsewhere);
}

struct Canary {
  std::atomic<int>* destroyed;
  std::string payload = std::string(100, 'x');
  ~Canary() { ++*destroyed; }
};

Task<void> parkedForever(std::atomic<int>* destroyed, std::atomic<bool>* parked) {
  Canary canary{destroyed};
  *parked = true;
  co_await sleepFor(24h);
}

TEST(ThreadRuntime, EndingTheRuntimeFreesTasksStillSuspended) {
  std::atomic<int> destroyed{0};
  std::atomic<bool> parkedOnPool{false}, parkedOnSerial{false};
  {
    ThreadRuntime runtime;
    auto serial = runtime.makeSerialQueue("parked", QueueQos::utility);
    spawn(runtime.pool(), parkedForever(&destroyed, &parkedOnPool));
    spawn(*serial, parkedForever(&destroyed, &parkedOnSerial));
    ASSERT_TRUE(waitFor([&] { return parkedOnPool && parkedOnSerial; }));
  }
  EXPECT_EQ(destroyed, 2);
}

// Drops the last reference to the queue it runs on, then goes on using its own frame.
Task<void> endsItsOwnQueue(std::shared_ptr<ThreadQueue>* holder, std::atomic<int>* destroyed,
                           std::promise<size_t>* finished) {
  Canary canary{destroyed};
  const std::string local = "still in the frame";
  holder->reset();
  finished->set_value(local.size());
  co_return;
}

TEST(ThreadRuntime, ATaskThatEndsItsOwnQueueFinishesAndTheQueuesOtherTasksAreFreed) {
  LogHub::shared().setStandardErrorEnabled(false);
  std::atomic<int> destroyed{0};
  std::atomic<bool> parked{false};
  std::promise<size_t> finished;
  auto holder = std::make_shared<ThreadQueue>("self-ending", QueueQos::utility, SystemClock::shared());
  ThreadQueue& queue = *holder;
  spawn(queue, parkedForever(&destroyed, &parked));
  ASSERT_TRUE(waitFor([&] { return parked.load(); }));
  TaskHandle<void> running = spawn(queue, endsItsOwnQueue(&holder, &destroyed, &finished));
  // A sanitizer build reports the running frame's use after it was freed, had the queue's end
  // freed it mid-turn.
  EXPECT_EQ(finished.get_future().get(), std::string("still in the frame").size());
  EXPECT_TRUE(waitFor([&] { return destroyed == 2 && running.isDone(); }, 10s))
      << "both frames end: the finished one and the parked one";
  LogHub::shared().setStandardErrorEnabled(true);
}

}  // namespace
}  // namespace quorvel

namespace quorvel {
namespace {

TEST(ThreadNameTest, ShortensLongLabelsWithoutMakingLookAlikes) {
  EXPECT_EQ(ThreadName::shortened("HotkeyEventTap"), "HotkeyEventTap");
  EXPECT_EQ(ThreadName::shortened("net.tarmeq.quorvel.render"), "quorvel.render");
  EXPECT_EQ(ThreadName::shortened("net.tarmeq.quorvel.ax"), "quorvel.ax");
  EXPECT_EQ(ThreadName::shortened("net.tarmeq.quorvel.axobserver"), "axobserver");
  EXPECT_EQ(ThreadName::shortened("net.tarmeq.quorvel.favicons"), "favicons");
  EXPECT_EQ(ThreadName::shortened("net.tarmeq.quorvel.thumbnail-prep"), "thumbnail-prep");
  const std::string long1 = ThreadName::shortened("averyveryverylongthreadlabel-one");
  const std::string long2 = ThreadName::shortened("averyveryverylongthreadlabel-two");
  EXPECT_LE(long1.size(), ThreadName::kLimit);
  EXPECT_NE(long1, long2);
  EXPECT_EQ(ThreadName::shortened("trailing.dot."), "trailing.dot.");
}

TEST(ThreadNameTest, AQueueThreadCarriesTheShortenedName) {
  VirtualClock clock;
  ThreadQueue queue("net.tarmeq.quorvel.favicons", QueueQos::utility, clock);
  std::promise<std::string> name;
  queue.post([&] {
    char buffer[32] = {};
    pthread_getname_np(pthread_self(), buffer, sizeof buffer);
    name.set_value(buffer);
  });
  EXPECT_EQ(name.get_future().get(), "favicons");
  queue.shutdown();
}

}  // namespace
}  // namespace quorvel
