#include <gtest/gtest.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "ax/AXFunnel.h"
#include "base/LogCapture.h"
#include "base/ManualLoop.h"
#include "base/ThreadRuntime.h"
#include "platform/Accessibility.h"
#include "platform/sim/SimApp.h"
#include "platform/sim/SimDesktop.h"
#include "platform/sim/SimWindow.h"
#include "windows/FocusObserver.h"

namespace quorvel {
namespace {

// Where each observer was taken off its loop and released, by process id.
struct ObserverLedger {
  std::mutex mutex;
  std::map<int32_t, int> created;
  std::vector<std::string> unscheduledOn;
  std::vector<std::string> releasedOn;
  // Taken by the next callback, which drops it once the observer's own callback has returned.
  std::shared_ptr<void> dropInNextCallback;
  // The platform's own observers, held here as well when asked for (as a platform thread holds one
  // while it delivers).
  bool keepObservers = false;
  std::vector<std::shared_ptr<AXObserver>> kept;
  pid_t callbackThread = 0;

  static std::string here() {
    Executor* current = Executor::current();
    return current ? current->label() : std::string("(no queue)");
  }
};

// An observer that reports where it is unscheduled and released, around the platform's own.
class TrackedObserver final : public AXObserver {
 public:
  TrackedObserver(std::shared_ptr<AXObserver> inner, std::shared_ptr<ObserverLedger> ledger)
      : inner_(std::move(inner)), ledger_(std::move(ledger)) {}
  ~TrackedObserver() override {
    std::lock_guard guard(ledger_->mutex);
    ledger_->releasedOn.push_back(ObserverLedger::here());
  }
  AXError addNotification(const AXElementRef& e, const std::string& n, void* context) override {
    return inner_->addNotification(e, n, context);
  }
  AXError removeNotification(const AXElementRef& e, const std::string& n) override {
    return inner_->removeNotification(e, n);
  }
  void schedule(Executor& runLoop) override { inner_->schedule(runLoop); }
  void unschedule() override {
    {
      std::lock_guard guard(ledger_->mutex);
      ledger_->unscheduledOn.push_back(ObserverLedger::here());
    }
    inner_->unschedule();
  }

 private:
  std::shared_ptr<AXObserver> inner_;
  std::shared_ptr<ObserverLedger> ledger_;
};

// The simulated Accessibility service, with observers counted and tracked.
class TrackingAccessibility final : public Accessibility {
 public:
  explicit TrackingAccessibility(Accessibility& inner) : inner_(inner) {}
  bool isProcessTrusted() override { return inner_.isProcessTrusted(); }
  bool isProcessTrustedWithPrompt(bool prompt) override { return inner_.isProcessTrustedWithPrompt(prompt); }
  AXElementRef applicationElement(int32_t pid) override { return inner_.applicationElement(pid); }
  AXAttributeResult copyAttributeValue(const AXElementRef& e, const std::string& a) override {
    return inner_.copyAttributeValue(e, a);
  }
  std::vector<AXAttributeResult> copyMultipleAttributeValues(const AXElementRef& e,
                                                             const std::vector<std::string>& a) override {
    return inner_.copyMultipleAttributeValues(e, a);
  }
  AXError copyAttributeNames(const AXElementRef& e, std::vector<std::string>& names) override {
    return inner_.copyAttributeNames(e, names);
  }
  AXError setAttributeValue(const AXElementRef& e, const std::string& a, const AXValue& v) override {
    return inner_.setAttributeValue(e, a, v);
  }
  AXError performAction(const AXElementRef& e, const std::string& a) override { return inner_.performAction(e, a); }
  AXError setMessagingTimeout(const AXElementRef& e, float s) override { return inner_.setMessagingTimeout(e, s); }
  std::optional<int32_t> pid(const AXElementRef& e) override { return inner_.pid(e); }
  std::optional<uint32_t> windowNumber(const AXElementRef& e) override { return inner_.windowNumber(e); }
  std::pair<AXError, std::shared_ptr<AXObserver>> createObserver(int32_t pid, AXObserver::Callback callback) override {
    auto wrapped = [ledger = ledger, callback = std::move(callback)](const AXElementRef& element,
                                                                      const std::string& name, void* reference) {
      std::shared_ptr<void> dropped;
      {
        std::lock_guard guard(ledger->mutex);
        dropped = std::move(ledger->dropInNextCallback);
        ledger->callbackThread = gettid();
      }
      callback(element, name, reference);
      dropped.reset();
    };
    auto [error, observer] = inner_.createObserver(pid, std::move(wrapped));
    if (!observer) return {error, nullptr};
    {
      std::lock_guard guard(ledger->mutex);
      ++ledger->created[pid];
      if (ledger->keepObservers) ledger->kept.push_back(observer);
    }
    return {error, std::make_shared<TrackedObserver>(std::move(observer), ledger)};
  }

  std::shared_ptr<ObserverLedger> ledger = std::make_shared<ObserverLedger>();

 private:
  Accessibility& inner_;
};

struct Delivery {
  uint32_t window;
  int32_t pid;
  std::string queue;
  bool operator==(const Delivery&) const = default;
};

class FocusObserverTest : public ::testing::Test {
 protected:
  FocusObserverTest() {
    observer->setSink([this](uint32_t window, int32_t pid, Instant) {
      deliveries.push_back({window, pid, ObserverLedger::here()});
    });
  }
  int created(int32_t pid) {
    std::lock_guard guard(tracking.ledger->mutex);
    return tracking.ledger->created[pid];
  }

  ManualLoop loop;
  SimDesktop sim{loop};
  SimApp& mail = sim.launchApp({.pid = 100, .bundleID = "com.example.mail", .name = "Mail"});
  SimApp& notes = sim.launchApp({.pid = 200, .bundleID = "com.example.notes", .name = "Notes"});
  SimWindow& inbox = mail.openWindow({.title = "Inbox"});
  SimWindow& draft = mail.openWindow({.title = "Draft"});
  SimWindow& sent = mail.openWindow({.title = "Sent"});
  SimWindow& list = notes.openWindow({.title = "List"});
  SimWindow& todo = notes.openWindow({.title = "To do"});  // opened last: Notes' focused window
  TrackingAccessibility tracking{sim.accessibility()};
  AXFunnel funnel{loop};
  std::shared_ptr<FocusObserver> observer = FocusObserver::create(loop, tracking, funnel);
  std::vector<Delivery> deliveries;
};

TEST_F(FocusObserverTest, BurstsFromOneApplicationGiveOneDeliveryOfTheNewestWindow) {
  observer->sync({100, 200});
  loop.runUntilIdle();
  EXPECT_EQ(observer->installedPids(), (std::set<int32_t>{100, 200}));
  EXPECT_FLOAT_EQ(sim.messagingTimeout(mail.element()), 0.5f);

  inbox.focus();
  draft.focus();
  sent.focus();
  list.focus();
  loop.runUntilIdle();
  EXPECT_EQ(deliveries, (std::vector<Delivery>{{sent.number, 100, "net.tarmeq.quorvel.ax"},
                                               {list.number, 200, "net.tarmeq.quorvel.ax"}}));


  // A later change is delivered on its own.
  inbox.focus();
  loop.runUntilIdle();
  ASSERT_EQ(deliveries.size(), 3u);
  EXPECT_EQ(deliveries.back().window, inbox.number);
}

TEST_F(FocusObserverTest, ChangesWithoutAWindowNumberAreDroppedSilently) {
  observer->sync({100});
  loop.runUntilIdle();
  const SimElementId strip = inbox.addElement({.role = "AXTabGroup"});
  sim.postNotification(strip, FocusObserver::kNotification);
  loop.runUntilIdle();
  EXPECT_TRUE(deliveries.empty());
  inbox.focus();
  loop.runUntilIdle();
  EXPECT_EQ(deliveries.size(), 1u) << "the dropped change leaves nothing pending";
}

TEST_F(FocusObserverTest, SyncingTheSameSetTwiceStartsNoWork) {
  observer->sync({100});
  loop.runUntilIdle();
  observer->sync({100});
  EXPECT_EQ(loop.runUntilIdle(), 0u);

  // A watched process that stays wanted is neither removed nor installed again.
  observer->sync({100, 200});
  loop.runUntilIdle();
  EXPECT_EQ(created(100), 1);
  EXPECT_EQ(created(200), 1);
  EXPECT_TRUE(tracking.ledger->unscheduledOn.empty());
  inbox.focus();
  loop.runUntilIdle();
  EXPECT_EQ(deliveries.size(), 1u);
}

TEST_F(FocusObserverTest, TwoSyncsBeforeTheInstallRunsInstallOneObserver) {
  observer->sync({100});
  observer->sync({100});
  loop.runUntilIdle();
  EXPECT_EQ(created(100), 1);
  inbox.focus();
  loop.runUntilIdle();
  EXPECT_EQ(deliveries.size(), 1u) << "one observer, one delivery";
}

TEST_F(FocusObserverTest, JobsPlannedByAnOlderSyncDoNotUndoANewerOne) {
  observer->sync({100});
  loop.runUntilIdle();
  // A removal is planned, then the process is wanted again before the removal runs: the newer
  // sync plans nothing (the observer is still installed), so the removal must not go through.
  observer->sync({});
  observer->sync({100});
  loop.runUntilIdle();
  EXPECT_EQ(observer->installedPids(), (std::set<int32_t>{100}));
  inbox.focus();
  loop.runUntilIdle();
  EXPECT_EQ(deliveries.size(), 1u);

  // An install is planned, then the process is no longer wanted before it runs.
  observer->sync({100, 200});
  observer->sync({100});
  loop.runUntilIdle();
  EXPECT_EQ(observer->installedPids(), (std::set<int32_t>{100}));
  EXPECT_EQ(created(200), 0);
}

TEST_F(FocusObserverTest, AFailedInstallIsLoggedOnceAndRetriedOnlyAfterBeingForgotten) {
  LogCapture log;
  sim.failObserverCreation(100, AXError::cannotComplete);
  observer->sync({100});
  loop.runUntilIdle();
  EXPECT_EQ(observer->failedPids(), std::set<int32_t>{100});
  EXPECT_TRUE(observer->installedPids().empty());
  const std::string line = "pid 100 would not give us an observer (-25204), so it keeps the crediting it always had";
  EXPECT_EQ(log.messages("FocusObserver"), std::vector<std::string>{line});

  sim.failObserverCreation(100, AXError::success);
  observer->sync({100});
  EXPECT_EQ(loop.runUntilIdle(), 0u) << "still wanted: not retried";
  EXPECT_EQ(observer->failedPids(), std::set<int32_t>{100});

  observer->sync({});
  EXPECT_EQ(loop.runUntilIdle(), 0u);
  EXPECT_TRUE(observer->failedPids().empty()) << "forgotten once left out";

  observer->sync({100});
  loop.runUntilIdle();
  EXPECT_EQ(observer->installedPids(), std::set<int32_t>{100});
  EXPECT_EQ(log.count(line), 1u);
}

TEST_F(FocusObserverTest, ARefusedNotificationCountsAsAFailedInstall) {
  LogCapture log;
  sim.failNotificationRegistration(200, AXError::notificationUnsupported);
  observer->sync({100, 200});
  loop.runUntilIdle();
  EXPECT_EQ(observer->installedPids(), std::set<int32_t>{100});
  EXPECT_EQ(observer->failedPids(), std::set<int32_t>{200});
  EXPECT_TRUE(log.contains(
      "pid 200 refused the focus notification (-25207), so it keeps the crediting it always had"));
  list.focus();
  loop.runUntilIdle();
  EXPECT_TRUE(deliveries.empty());
}

TEST_F(FocusObserverTest, RemovalReleasesTheObserverOnItsOwnThread) {
  observer->sync({100, 200});
  loop.runUntilIdle();
  // A change reported just before the removal: its callback is queued on the observer thread.
  draft.focus();
  observer->sync({200});
  loop.runUntilIdle();
  EXPECT_EQ(observer->installedPids(), std::set<int32_t>{200});
  // Off its loop where it is removed, released on its own thread.
  EXPECT_EQ(tracking.ledger->unscheduledOn, std::vector<std::string>{AXFunnel::kLabel});
  EXPECT_EQ(tracking.ledger->releasedOn, std::vector<std::string>{FocusObserver::kThreadLabel});
  EXPECT_TRUE(deliveries.empty()) << "the pending change of a removed process is dropped";

  sent.focus();
  loop.runUntilIdle();
  EXPECT_TRUE(deliveries.empty()) << "no observer any more";
}

TEST_F(FocusObserverTest, NothingHappensWhileNotTrusted) {
  observer->sync({100});
  loop.runUntilIdle();
  sim.setAccessibilityTrusted(false);
  observer->sync({200});
  EXPECT_EQ(loop.runUntilIdle(), 0u);
  EXPECT_EQ(observer->installedPids(), std::set<int32_t>{100}) << "installed observers stay";
}

TEST_F(FocusObserverTest, ChangesAfterTheObserverIsGoneAreIgnored) {
  observer->sync({100});
  loop.runUntilIdle();
  inbox.focus();
  observer.reset();
  loop.runUntilIdle();
  draft.focus();
  loop.runUntilIdle();
  EXPECT_TRUE(deliveries.empty());
  EXPECT_EQ(tracking.ledger->releasedOn, std::vector<std::string>{FocusObserver::kThreadLabel});
}

// Mail with two windows on real threads, its focus followed by an observer once installed.
struct ObservedMail {
  explicit ObservedMail(bool keepObservers = false) {
    tracking.ledger->keepObservers = keepObservers;
    observer->sync({100});
    while (observer->installedPids().empty() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }

  const std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  ThreadRuntime runtime;
  SimDesktop sim{runtime};
  SimApp& app = sim.launchApp({.pid = 100, .name = "Mail"});
  const uint32_t inbox = app.openWindow({.title = "Inbox"}).number;
  const uint32_t draft = app.openWindow({.title = "Draft"}).number;
  TrackingAccessibility tracking{sim.accessibility()};
  AXFunnel funnel{runtime};
  std::shared_ptr<FocusObserver> observer = FocusObserver::create(runtime, tracking, funnel);
};

TEST(FocusObserverThreads, TheLastReferenceMayGoInACallback) {
  ObservedMail mail;
  std::shared_ptr<FocusObserver>& observer = mail.observer;
  TrackingAccessibility& tracking = mail.tracking;
  ASSERT_EQ(observer->installedPids(), std::set<int32_t>{100});

  // The observer and its thread's queue end on that thread, inside the callback of a focus change.
  const std::weak_ptr<FocusObserver> weak = observer;
  {
    std::lock_guard guard(tracking.ledger->mutex);
    tracking.ledger->dropInNextCallback = std::move(observer);
  }
  mail.sim.focusWindow(mail.inbox);
  auto ended = [&] {
    std::lock_guard guard(tracking.ledger->mutex);
    const pid_t thread = tracking.ledger->callbackThread;
    return weak.expired() && thread != 0 && !std::filesystem::exists("/proc/self/task/" + std::to_string(thread));
  };
  while (!ended() && std::chrono::steady_clock::now() < mail.deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  ASSERT_TRUE(ended()) << "the observer thread ends once the callback returns";
  std::lock_guard guard(tracking.ledger->mutex);
  // Taken off the loop before the queue went, not dropped with it while still scheduled there.
  EXPECT_EQ(tracking.ledger->unscheduledOn, std::vector<std::string>{FocusObserver::kThreadLabel});
  EXPECT_EQ(tracking.ledger->releasedOn, std::vector<std::string>{FocusObserver::kThreadLabel});
}

// At the program's end the worker queues stop before the services go: a focus change that the
// platform delivers to an observer it still holds after the focus observer (and its queue with it)
// has gone is posted nowhere, since the observer was taken off its loop as it was let go.
TEST(FocusObserverThreads, AnObserverThePlatformStillHoldsPostsNothingOnceItsQueueHasGone) {
  ObservedMail mail(true);
  std::shared_ptr<FocusObserver>& observer = mail.observer;
  TrackingAccessibility& tracking = mail.tracking;
  ASSERT_EQ(observer->installedPids(), std::set<int32_t>{100});
  mail.runtime.shutdownWorkers();
  observer.reset();
  mail.sim.focusWindow(mail.inbox);
  std::vector<std::shared_ptr<AXObserver>> kept;
  {
    std::lock_guard guard(tracking.ledger->mutex);
    EXPECT_EQ(tracking.ledger->unscheduledOn.size(), 1u);
    kept.swap(tracking.ledger->kept);  // they hold the ledger
  }
}

TEST(FocusObserverThreads, SyncsAndFocusChangesFromManyThreadsStayClean) {
  ThreadRuntime runtime;
  SimDesktop sim(runtime);
  std::vector<uint32_t> windows;
  for (int32_t pid : {100, 200, 300}) {
    auto& app = sim.launchApp({.pid = pid, .name = "App " + std::to_string(pid)});
    for (int i = 0; i < 3; ++i) windows.push_back(app.openWindow({.title = "W" + std::to_string(i)}).number);
  }
  AXFunnel funnel(runtime);
  auto observer = FocusObserver::create(runtime, sim.accessibility(), funnel);
  std::atomic<int> delivered{0};
  std::atomic<uint32_t> lastWindow{0};
  observer->setSink([&](uint32_t window, int32_t, Instant) {
    lastWindow = window;
    ++delivered;
  });

  std::atomic<bool> stop{false};
  std::thread syncer([&] {
    const std::vector<std::set<int32_t>> sets = {{100, 200, 300}, {100}, {}, {200, 300}, {100, 300}};
    for (int i = 0; !stop; ++i) {
      observer->sync(sets[i % sets.size()]);
      if (i % 7 == 0) observer->setSink([&](uint32_t window, int32_t, Instant) {
        lastWindow = window;
        ++delivered;
      });
      std::this_thread::yield();
    }
  });
  std::vector<std::thread> focusers;
  for (int t = 0; t < 2; ++t) {
    focusers.emplace_back([&, t] {
      for (int i = 0; !stop; ++i) {
        sim.focusWindow(windows[(i * 3 + t) % windows.size()]);
        std::this_thread::yield();
      }
    });
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  stop = true;
  syncer.join();
  for (auto& thread : focusers) thread.join();

  // Settle on watching everything, then one change must come through.
  observer->sync({100, 200, 300});
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (observer->installedPids() != std::set<int32_t>{100, 200, 300} &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  ASSERT_EQ(observer->installedPids(), (std::set<int32_t>{100, 200, 300}));
  funnel.runBlocking([] {});  // earlier deliveries have run
  uint32_t target = 0;
  for (uint32_t window : windows) {
    if (sim.focusedWindow(sim.window(window).pid) != window) target = window;
  }
  ASSERT_NE(target, 0u);
  sim.focusWindow(target);
  while (lastWindow != target && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  EXPECT_EQ(lastWindow.load(), target);
  EXPECT_GT(delivered.load(), 0);
  observer.reset();
}

}  // namespace
}  // namespace quorvel
