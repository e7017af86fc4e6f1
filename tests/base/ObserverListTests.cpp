#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "base/ObserverList.h"
#include "base/Subscription.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;

TEST(ObserverList, ASubscriptionHoldsItsObserverUntilItGoes) {
  ObserverList<int> list;
  std::vector<int> heard;
  {
    Subscription first = list.add([&](int v) { heard.push_back(v); });
    list.notify(1);
    Subscription moved = std::move(first);
    EXPECT_FALSE(first.isActive());
    list.notify(2);
  }
  list.notify(3);
  EXPECT_EQ(heard, (std::vector<int>{1, 2}));
  EXPECT_TRUE(list.empty());

  Subscription again = list.add([&](int v) { heard.push_back(v * 10); });
  again.cancel();
  again.cancel();  // twice is harmless
  list.notify(4);
  EXPECT_EQ(heard.size(), 2u);
}

TEST(ObserverList, ASnapshotDeliversLaterToThoseStillSubscribed) {
  ObserverList<> list;
  int a = 0, b = 0, c = 0;
  Subscription first = list.add([&] { ++a; });
  Subscription second = list.add([&] { ++b; });
  const auto moment = list.snapshot();
  Subscription third = list.add([&] { ++c; });  // after the moment: not in it
  second.cancel();
  moment.notify();
  EXPECT_EQ(a, 1);
  EXPECT_EQ(b, 0);
  EXPECT_EQ(c, 0);
}

TEST(ObserverList, ObserversMayCancelThemselvesOthersAndAddMore) {
  ObserverList<> list;
  int selfCalls = 0, laterCalls = 0, addedCalls = 0;
  Subscription self, later, added;
  self = list.add([&] {
    ++selfCalls;
    self.cancel();   // its own: finishes this call, never called again
    later.cancel();  // a later one in the same notification: skipped
    added = list.add([&] { ++addedCalls; });
  });
  later = list.add([&] { ++laterCalls; });
  list.notify();
  list.notify();
  EXPECT_EQ(selfCalls, 1);
  EXPECT_EQ(laterCalls, 0);
  EXPECT_EQ(addedCalls, 1) << "added during the first notification, heard from the second";
}

TEST(ObserverList, CancelWaitsForACallRunningOnAnotherThread) {
  ObserverList<> list;
  std::atomic<bool> inside{false}, release{false}, finished{false};
  Subscription subscription = list.add([&] {
    inside = true;
    while (!release) std::this_thread::sleep_for(1ms);
    finished = true;
  });
  std::thread notifier([&] { list.notify(); });
  while (!inside) std::this_thread::sleep_for(1ms);
  std::thread releaser([&] {
    std::this_thread::sleep_for(20ms);
    release = true;
  });
  subscription.cancel();
  EXPECT_TRUE(finished) << "cancel returned while the observer was still running";
  notifier.join();
  releaser.join();
}

TEST(ObserverList, SubscriptionsMayOutliveTheirList) {
  Subscription survivor;
  {
    ObserverList<> list;
    survivor = list.add([] {});
  }
  survivor.cancel();
  EXPECT_FALSE(survivor.isActive());
}

}  // namespace
}  // namespace quorvel
