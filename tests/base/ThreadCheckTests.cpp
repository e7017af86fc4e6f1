#include <gtest/gtest.h>

#include "base/ManualLoop.h"
#include "base/ThreadCheck.h"

namespace quorvel {
namespace {

TEST(ThreadCheckDeathTest, ACallOffItsExecutorStopsDebugBuilds) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  ManualLoop loop;
  std::shared_ptr<Executor> queue = loop.makeSerialQueue("net.example.queue", QueueQos::utility);

  ThreadCheck::require(loop.main(), "onMain");  // the driving thread is the main thread
  bool ran = false;
  queue->post([&] {
    ThreadCheck::require(*queue, "onQueue");
    ran = true;
  });
  loop.runUntilIdle();
  EXPECT_TRUE(ran);

  EXPECT_DEATH(ThreadCheck::require(*queue, "WindowRegistry::focusSink"),
               "WindowRegistry::focusSink must run on net.example.queue but ran on");
  ThreadCheck::requireAny({queue.get(), &loop.main()}, "eitherOne");
  EXPECT_DEATH(ThreadCheck::requireAny({queue.get(), &loop.pool()}, "WindowRegistry::noteVisit"),
               "WindowRegistry::noteVisit must run on net.example.queue or .* but ran on");
#ifndef NDEBUG
  EXPECT_DEATH(QUORVEL_REQUIRE_EXECUTOR(*queue, "checked"), "checked must run on net.example.queue");
  EXPECT_DEATH(QUORVEL_REQUIRE_ANY_EXECUTOR("either", queue.get()), "either must run on net.example.queue");
#endif
}

}  // namespace
}  // namespace quorvel
