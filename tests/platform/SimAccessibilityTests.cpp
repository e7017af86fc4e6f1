#include <gtest/gtest.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <unordered_set>

#include "base/ManualLoop.h"
#include "platform/sim/SimApp.h"
#include "platform/sim/SimDesktop.h"
#include "platform/sim/SimWindow.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;

std::string text(const AXAttributeResult& r) {
  const auto* s = r.value.get<std::string>();
  return r.ok() && s ? *s : "<" + std::to_string(axErrorCode(r.error)) + ">";
}

AXValue::Elements elements(const AXAttributeResult& r) {
  const auto* list = r.value.get<AXValue::Elements>();
  return r.ok() && list ? *list : AXValue::Elements{};
}

struct Browser {
  ManualLoop loop;
  SimDesktop sim{loop};
  Accessibility& ax = sim.accessibility();
  SimApp& app = sim.launchApp({.pid = 100, .bundleID = "com.google.Chrome", .name = "Chrome", .activate = true});
  SimWindow& window = app.openWindow({.title = "Inbox", .frame = {10, 20, 800, 600}});
  SimElementId strip = window.addElement({.role = "AXTabGroup", .children = {
      {.role = "AXRadioButton", .title = "Inbox", .selected = true, .actions = {{"AXPress", sim.selectsAmongSiblings()}}},
      {.role = "AXRadioButton", .description = "News", .selected = false,
       .actions = {{"AXPress", sim.selectsAmongSiblings()}}},
  }});
};

TEST(SimAccessibility, ElementsAreEqualByIdentityNotByReference) {
  Browser b;
  AXElementRef first = b.ax.applicationElement(100);
  AXElementRef second = b.ax.applicationElement(100);
  EXPECT_NE(first.get(), second.get());
  EXPECT_TRUE(AXElementEqual{}(first, second));
  EXPECT_EQ(AXElementHash{}(first), AXElementHash{}(second));

  auto windows = elements(b.ax.copyAttributeValue(first, "AXWindows"));
  ASSERT_EQ(windows.size(), 1u);
  EXPECT_TRUE(AXElementEqual{}(windows[0], b.window.ref()));
  EXPECT_FALSE(AXElementEqual{}(windows[0], first));
  EXPECT_EQ(b.ax.windowNumber(windows[0]), b.window.number);
  EXPECT_EQ(b.ax.windowNumber(first), std::nullopt);
  EXPECT_EQ(b.ax.pid(windows[0]), 100);

  std::unordered_set<AXElementRef, AXElementHash, AXElementEqual> seen;
  for (int i = 0; i < 3; ++i) {
    for (const auto& tab : elements(b.ax.copyAttributeValue(b.sim.ref(b.strip), "AXChildren"))) seen.insert(tab);
  }
  EXPECT_EQ(seen.size(), 2u);

  // A rebuilt strip has new elements; the old ones are gone.
  AXElementRef oldTab = *seen.begin();
  b.sim.replaceChildren(b.strip, {{.role = "AXRadioButton", .title = "Fresh"}});
  auto fresh = elements(b.ax.copyAttributeValue(b.sim.ref(b.strip), "AXChildren"));
  ASSERT_EQ(fresh.size(), 1u);
  EXPECT_FALSE(AXElementEqual{}(fresh[0], oldTab));
  EXPECT_EQ(b.ax.copyAttributeValue(oldTab, "AXTitle").error, AXError::invalidElement);
}

TEST(SimAccessibility, WindowAndBuiltElementsAnswerTheirAttributes) {
  Browser b;
  AXElementRef w = b.window.ref();
  auto values = b.ax.copyMultipleAttributeValues(w, {"AXRole", "AXSubrole", "AXTitle", "AXMinimized", "AXPosition",
                                                     "AXSize", "AXMain", "AXFocused", "AXNoSuch"});
  ASSERT_EQ(values.size(), 9u);
  EXPECT_EQ(text(values[0]), "AXWindow");
  EXPECT_EQ(text(values[1]), "AXStandardWindow");
  EXPECT_EQ(text(values[2]), "Inbox");
  EXPECT_EQ(*values[3].value.get<bool>(), false);
  EXPECT_EQ(*values[4].value.get<Point>(), (Point{10, 20}));
  EXPECT_EQ(*values[5].value.get<Size>(), (Size{800, 600}));
  EXPECT_TRUE(values[4].value.isAXValueType());
  EXPECT_EQ(*values[6].value.get<bool>(), true);
  EXPECT_EQ(*values[7].value.get<bool>(), true);
  EXPECT_EQ(values[8].error, AXError::attributeUnsupported);

  auto tabs = elements(b.ax.copyAttributeValue(b.sim.ref(b.strip), "AXChildren"));
  ASSERT_EQ(tabs.size(), 2u);
  EXPECT_EQ(text(b.ax.copyAttributeValue(tabs[1], "AXDescription")), "News");
  EXPECT_EQ(b.ax.copyAttributeValue(tabs[1], "AXTitle").error, AXError::attributeUnsupported);
  EXPECT_EQ(b.ax.copyAttributeValue(b.sim.ref(b.strip), "AXTabs").error, AXError::attributeUnsupported);

  // Pressing a tab selects it among its siblings; the strip's parent is the window.
  EXPECT_EQ(b.ax.performAction(tabs[1], "AXPress"), AXError::success);
  EXPECT_EQ(*b.ax.copyAttributeValue(tabs[0], "AXSelected").value.get<bool>(), false);
  EXPECT_EQ(*b.ax.copyAttributeValue(tabs[1], "AXSelected").value.get<bool>(), true);
  EXPECT_EQ(b.ax.performAction(tabs[1], "AXShowMenu"), AXError::actionUnsupported);
  EXPECT_EQ(b.sim.actionCount(b.sim.idOf(tabs[1]), "AXPress"), 1);
  auto parent = b.ax.copyAttributeValue(b.sim.ref(b.strip), "AXParent");
  ASSERT_TRUE(parent.value.get<AXElementRef>());
  EXPECT_TRUE(AXElementEqual{}(*parent.value.get<AXElementRef>(), w));

  // Window attributes act on the window.
  EXPECT_EQ(b.ax.setAttributeValue(w, "AXPosition", Point{50, 60}), AXError::success);
  EXPECT_EQ(b.window.frame(), (Rect{50, 60, 800, 600}));
  EXPECT_EQ(b.ax.setAttributeValue(w, "AXMinimized", true), AXError::success);
  EXPECT_FALSE(b.window.isOnScreen());
  EXPECT_EQ(b.ax.setAttributeValue(w, "AXMinimized", "yes"), AXError::illegalArgument);
  EXPECT_EQ(b.ax.setAttributeValue(w, "AXTitle", "x"), AXError::attributeUnsupported);
}

TEST(SimAccessibility, SettingAnAttributeCanGrowTheTree) {
  Browser b;
  const SimElementId appElement = b.app.element();
  b.sim.onAttributeSet(appElement, "AXManualAccessibility", [&](SimElementId, const AXValue& v) {
    if (v.get<bool>() && *v.get<bool>()) b.app.addElement({.role = "AXMenuBar"});
  });
  AXElementRef app = b.ax.applicationElement(100);
  EXPECT_EQ(b.ax.copyAttributeValue(app, "AXMenuBar").error, AXError::noValue);
  EXPECT_EQ(b.ax.setAttributeValue(app, "AXManualAccessibility", true), AXError::success);
  EXPECT_EQ(*b.ax.copyAttributeValue(app, "AXManualAccessibility").value.get<bool>(), true);
  EXPECT_TRUE(b.ax.copyAttributeValue(app, "AXMenuBar").ok());

  // An application that refuses the switch: the write fails and nothing reads back.
  b.sim.failSetAttribute(appElement, "AXEnhancedUserInterface", AXError::attributeUnsupported);
  EXPECT_EQ(b.ax.setAttributeValue(app, "AXEnhancedUserInterface", true), AXError::attributeUnsupported);
  EXPECT_FALSE(b.ax.copyAttributeValue(app, "AXEnhancedUserInterface").ok());
}

TEST(SimAccessibility, InjectedFailuresAndAnUnresponsiveApplication) {
  Browser b;
  AXElementRef w = b.window.ref();
  b.sim.failAttribute(b.window.element(), "AXTitle", AXError::cannotComplete, 2);
  EXPECT_EQ(b.ax.copyAttributeValue(w, "AXTitle").error, AXError::cannotComplete);
  EXPECT_EQ(b.ax.copyAttributeValue(w, "AXTitle").error, AXError::cannotComplete);
  EXPECT_EQ(text(b.ax.copyAttributeValue(w, "AXTitle")), "Inbox");

  const SimElementId tab = b.sim.children(b.strip)[1];
  b.sim.refuseAction(tab, "AXPress", AXError::cannotComplete, 1);
  EXPECT_EQ(b.ax.performAction(b.sim.ref(tab), "AXPress"), AXError::cannotComplete);
  EXPECT_EQ(*b.sim.attribute(tab, "AXSelected").value.get<bool>(), false);  // the handler did not run
  EXPECT_EQ(b.ax.performAction(b.sim.ref(tab), "AXPress"), AXError::success);
  EXPECT_EQ(*b.sim.attribute(tab, "AXSelected").value.get<bool>(), true);

  // Refusals armed one after another are used up in that order.
  b.sim.refuseAction(tab, "AXPress", AXError::cannotComplete, 1);
  b.sim.refuseAction(tab, "AXPress", AXError::failure, 1);
  EXPECT_EQ(b.ax.performAction(b.sim.ref(tab), "AXPress"), AXError::cannotComplete);
  EXPECT_EQ(b.ax.performAction(b.sim.ref(tab), "AXPress"), AXError::failure);
  EXPECT_EQ(b.ax.performAction(b.sim.ref(tab), "AXPress"), AXError::success);
  b.sim.failAttribute(tab, "AXTitle", AXError::failure);  // always, until disarmed
  EXPECT_EQ(b.ax.copyAttributeValue(b.sim.ref(tab), "AXTitle").error, AXError::failure);
  EXPECT_EQ(b.ax.copyAttributeValue(b.sim.ref(tab), "AXTitle").error, AXError::failure);
  b.sim.failAttribute(tab, "AXTitle", AXError::failure, 0);
  EXPECT_EQ(b.ax.copyAttributeValue(b.sim.ref(tab), "AXTitle").error, AXError::attributeUnsupported);

  // Every call on a hung application waits out the element's time-out on the virtual clock.
  b.sim.resetCounters();
  b.sim.setUnresponsive(100);
  EXPECT_EQ(b.ax.setMessagingTimeout(w, 0.5f), AXError::success);
  const Instant before = b.loop.clock().now();
  EXPECT_EQ(b.ax.copyAttributeValue(w, "AXTitle").error, AXError::cannotComplete);
  EXPECT_EQ(b.loop.clock().now() - before, 500ms);
  EXPECT_EQ(b.ax.performAction(b.ax.applicationElement(100), "AXRaise"), AXError::cannotComplete);
  EXPECT_EQ(b.loop.clock().now() - before, 6500ms);  // no time-out set: the platform's 6 s
  EXPECT_EQ(b.sim.axCalls(100), 2);
  EXPECT_EQ(b.sim.axTimeSpent(100), 6500ms);

  b.sim.setAccessibilityTrusted(false);
  EXPECT_FALSE(b.ax.isProcessTrusted());
  EXPECT_EQ(b.ax.copyAttributeValue(w, "AXTitle").error, AXError::apiDisabled);
  EXPECT_FALSE(b.ax.isProcessTrustedWithPrompt(true));
  EXPECT_EQ(b.sim.accessibilityPrompts(), 1);
}

TEST(SimAccessibility, FocusChangesReachObserversOnTheirExecutor) {
  Browser b;
  auto queue = b.loop.makeSerialQueue("observer", QueueQos::utility);
  std::vector<uint32_t> delivered;
  int marker = 0;
  auto [error, observer] = b.ax.createObserver(100, [&](const AXElementRef& e, const std::string& name, void* ctx) {
    EXPECT_TRUE(queue->isCurrent());
    EXPECT_EQ(name, "AXFocusedWindowChanged");
    EXPECT_EQ(ctx, &marker);
    delivered.push_back(b.ax.windowNumber(e).value_or(0));
  });
  ASSERT_EQ(error, AXError::success);
  AXElementRef app = b.ax.applicationElement(100);
  EXPECT_EQ(observer->addNotification(app, "AXFocusedWindowChanged", &marker), AXError::success);
  EXPECT_EQ(observer->addNotification(app, "AXFocusedWindowChanged", &marker), AXError::notificationAlreadyRegistered);

  b.app.openWindow({.title = "Not yet scheduled"});  // no run loop: no delivery
  observer->schedule(*queue);
  auto& second = b.app.openWindow({.title = "Second"});
  b.window.focus();
  second.focus();
  second.focus();  // no change, no notification
  EXPECT_TRUE(delivered.empty());
  b.loop.runUntilIdle();
  EXPECT_EQ(delivered, (std::vector<uint32_t>{second.number, b.window.number, second.number}));

  delivered.clear();
  b.window.focus();
  observer->unschedule();  // a delivery still queued is dropped
  b.loop.runUntilIdle();
  EXPECT_TRUE(delivered.empty());

  observer->schedule(*queue);
  EXPECT_EQ(observer->removeNotification(app, "AXFocusedWindowChanged"), AXError::success);
  second.focus();
  b.loop.runUntilIdle();
  EXPECT_TRUE(delivered.empty());
}

// A run loop on a thread of its own, as the focus observer's.
class ThreadLoop final : public Executor {
 public:
  explicit ThreadLoop(Clock& clock) : clock_(clock), thread_([this] { run(); }) {}
  ~ThreadLoop() override {
    post({});
    thread_.join();
  }
  void post(Job job) override {
    std::lock_guard guard(mutex_);
    jobs_.push_back(std::move(job));
    ready_.notify_one();
  }
  TimerId postAfter(Duration, Job job) override {
    post(std::move(job));
    return 0;
  }
  bool cancel(TimerId) override { return false; }
  bool isCurrent() const override { return std::this_thread::get_id() == thread_.get_id(); }
  Clock& clock() const override { return clock_; }
  const std::string& label() const override { return label_; }

 private:
  void run() {
    for (;;) {
      Job job;
      {
        std::unique_lock lock(mutex_);
        ready_.wait(lock, [&] { return !jobs_.empty(); });
        job = std::move(jobs_.front());
        jobs_.pop_front();
      }
      if (!job) return;
      runJob(this, job);
    }
  }

  Clock& clock_;
  std::string label_ = "axobserver";
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<Job> jobs_;
  std::thread thread_;
};

TEST(SimAccessibility, DeliveriesReachAnObserverRunningOnItsOwnThread) {
  Browser b;
  ThreadLoop observerLoop(b.loop.clock());
  std::mutex mutex;
  std::condition_variable arrived;
  std::vector<uint32_t> delivered;
  auto [error, observer] = b.ax.createObserver(100, [&](const AXElementRef& e, const std::string&, void*) {
    EXPECT_TRUE(observerLoop.isCurrent());
    // Calling back into the desktop from the delivery must not deadlock.
    const auto number = b.ax.windowNumber(e);
    std::lock_guard guard(mutex);
    delivered.push_back(number.value_or(0));
    arrived.notify_all();
  });
  ASSERT_EQ(error, AXError::success);
  ASSERT_EQ(observer->addNotification(b.ax.applicationElement(100), "AXFocusedWindowChanged", nullptr),
            AXError::success);
  observer->schedule(observerLoop);
  auto& second = b.app.openWindow({.title = "Second"});
  std::thread focuser([&] { b.window.focus(); });
  focuser.join();
  std::unique_lock lock(mutex);
  ASSERT_TRUE(arrived.wait_for(lock, std::chrono::seconds(10), [&] { return delivered.size() == 2; }));
  EXPECT_EQ(delivered, (std::vector<uint32_t>{second.number, b.window.number}));
  lock.unlock();
  observer->unschedule();
}

TEST(SimAccessibility, ObserverInstallsCanBeRefused) {
  Browser b;
  b.sim.failObserverCreation(100, AXError::failure);
  auto [refused, none] = b.ax.createObserver(100, nullptr);
  EXPECT_EQ(refused, AXError::failure);
  EXPECT_EQ(none, nullptr);

  b.sim.failObserverCreation(100, AXError::success);
  b.sim.failNotificationRegistration(100, AXError::cannotComplete);
  auto [ok, observer] = b.ax.createObserver(100, nullptr);
  ASSERT_EQ(ok, AXError::success);
  EXPECT_EQ(observer->addNotification(b.ax.applicationElement(100), "AXFocusedWindowChanged", nullptr),
            AXError::cannotComplete);
  // An element of another application is not this observer's to watch.
  b.sim.launchApp({.pid = 200, .name = "Other"});
  EXPECT_EQ(observer->addNotification(b.ax.applicationElement(200), "AXFocusedWindowChanged", nullptr),
            AXError::illegalArgument);
}

}  // namespace
}  // namespace quorvel
