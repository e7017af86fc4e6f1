#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "ax/AXFunnel.h"
#include "ax/AXWindow.h"
#include "base/ManualLoop.h"
#include "base/Task.h"
#include "base/ThreadRuntime.h"
#include "platform/Accessibility.h"
#include "platform/sim/SimApp.h"
#include "platform/sim/SimDesktop.h"
#include "platform/sim/SimWindow.h"

namespace quorvel {
namespace {

class AXWindowTest : public ::testing::Test {
 protected:
  // A node with the given position and size attributes under a fresh window.
  AXElementRef nodeWith(std::map<std::string, AXValue> attributes) {
    SimElementSpec spec;
    spec.role = "AXGroup";
    spec.attributes = std::move(attributes);
    return sim.ref(window.addElement(std::move(spec)));
  }

  ManualLoop loop;
  SimDesktop sim{loop};
  SimApp& app = sim.launchApp({.pid = 100, .bundleID = "com.example.editor", .name = "Editor"});
  SimWindow& window = app.openWindow({.title = "Draft", .frame = {40, 60, 800, 600}});
  Accessibility& ax = sim.accessibility();
};

TEST_F(AXWindowTest, FrameOfAWindowInTopLeftCoordinates) {
  EXPECT_EQ(AXWindow::frame(ax, window.ref()), (Rect{40, 60, 800, 600}));
}

TEST_F(AXWindowTest, NoFrameWithoutPositiveSizeOrPosition) {
  EXPECT_FALSE(AXWindow::frame(ax, nodeWith({{"AXPosition", Point{0, 0}}, {"AXSize", Size{0, 50}}})));
  EXPECT_FALSE(AXWindow::frame(ax, nodeWith({{"AXPosition", Point{0, 0}}, {"AXSize", Size{50, 0}}})));
  EXPECT_FALSE(AXWindow::frame(ax, nodeWith({{"AXPosition", Point{0, 0}}, {"AXSize", Size{-5, 50}}})));
  EXPECT_FALSE(AXWindow::frame(ax, nodeWith({{"AXSize", Size{50, 50}}}))) << "position missing";
  EXPECT_FALSE(AXWindow::frame(ax, nodeWith({{"AXPosition", Point{0, 0}}}))) << "size missing";
  // Values of the wrong kind: a size where the position belongs, a plain number, a text.
  EXPECT_FALSE(AXWindow::frame(ax, nodeWith({{"AXPosition", Size{1, 1}}, {"AXSize", Size{50, 50}}})));
  EXPECT_FALSE(AXWindow::frame(ax, nodeWith({{"AXPosition", Point{1, 1}}, {"AXSize", AXValue(int64_t{50})}})));
  EXPECT_FALSE(AXWindow::frame(ax, nodeWith({{"AXPosition", "0,0"}, {"AXSize", Size{50, 50}}})));
  EXPECT_EQ(AXWindow::frame(ax, nodeWith({{"AXPosition", Point{-20, 5}}, {"AXSize", Size{50, 40}}})),
            (Rect{-20, 5, 50, 40}));
  EXPECT_FALSE(AXWindow::frame(ax, nullptr));
}

TEST_F(AXWindowTest, ReadErrorsCountAsMissing) {
  sim.failAttribute(window.element(), "AXSize", AXError::cannotComplete, 1);
  EXPECT_FALSE(AXWindow::frame(ax, window.ref()));
  EXPECT_TRUE(AXWindow::frame(ax, window.ref()));

  EXPECT_FALSE(AXWindow::value(ax, window.ref(), "AXTitle")) << "only Accessibility values pass";
  EXPECT_TRUE(AXWindow::value(ax, window.ref(), "AXPosition"));

  window.close();
  EXPECT_FALSE(AXWindow::frame(ax, window.ref())) << "a closed window's element is invalid";
}

TEST_F(AXWindowTest, WindowsOfAnApplicationByWindowNumber) {
  SimWindow& dialog = app.openWindow({.title = "Save", .frame = {0, 0, 300, 200}, .subrole = "AXDialog"});
  SimWindow& small = app.openWindow({.title = "Old", .minimized = true});
  SimWindow& plain = app.openWindow({.title = "Bare", .subrole = ""});
  SimWindow& hiddenFromAX = app.openWindow({.title = "Elsewhere", .listedByAX = false});

  const auto table = AXWindow::windows(ax, app.pid);
  ASSERT_EQ(table.size(), 4u);
  EXPECT_FALSE(table.contains(hiddenFromAX.number));
  EXPECT_EQ(table.at(window.number).subrole, AXSubrole::standardWindow);
  EXPECT_FALSE(table.at(window.number).isMinimized);
  EXPECT_EQ(table.at(dialog.number).subrole, AXSubrole::dialog);
  EXPECT_TRUE(table.at(small.number).isMinimized);
  EXPECT_EQ(table.at(plain.number).subrole, std::nullopt) << "an unreadable subrole is missing";
  ASSERT_NE(table.at(dialog.number).handle, nullptr);
  EXPECT_EQ(sim.idOf(table.at(dialog.number).handle->element()), dialog.element());
}

TEST_F(AXWindowTest, WindowsOfAnApplicationAreEmptyOnAnyFailure) {
  sim.failAttribute(app.element(), "AXWindows", AXError::cannotComplete, 1);
  EXPECT_TRUE(AXWindow::windows(ax, app.pid).empty());
  EXPECT_EQ(AXWindow::windows(ax, app.pid).size(), 1u);

  EXPECT_TRUE(AXWindow::windows(ax, 4242).empty()) << "no such application";

  sim.setAccessibilityTrusted(false);
  EXPECT_TRUE(AXWindow::windows(ax, app.pid).empty());
}

TEST_F(AXWindowTest, AnApplicationThatDoesNotAnswerHoldsTheWindowsReadForHalfASecond) {
  sim.setUnresponsive(app.pid);
  EXPECT_TRUE(AXWindow::windows(ax, app.pid).empty());
  EXPECT_FLOAT_EQ(sim.messagingTimeout(app.element()), 0.5f);
  EXPECT_EQ(sim.axTimeSpent(app.pid), std::chrono::milliseconds(500));
}

TEST_F(AXWindowTest, OneTypedReadGivesEachWindowsFramesTitlesAndStates) {
  SimWindow& panel = app.openWindow({.title = "Inspector", .frame = {10, 20, 200, 400}, .subrole = "AXFloatingWindow"});
  SimWindow& odd = app.openWindow({.title = "", .frame = {0, 0, 90, 90}, .subrole = "AXUnknownKind", .minimized = true});

  const auto bare = ax.applicationWindows(app.pid, {});
  ASSERT_TRUE(bare);
  ASSERT_EQ(bare->size(), 3u);
  EXPECT_FALSE(bare->front().frame) << "frames only when asked";
  EXPECT_FALSE(bare->front().title) << "titles only when asked";

  const auto full = ax.applicationWindows(app.pid, {.frame = true, .title = true});
  ASSERT_TRUE(full);
  ASSERT_EQ(full->size(), 3u);
  auto facts = [&](uint32_t number) {
    for (const AXWindowFacts& f : *full) {
      if (f.number == number) return f;
    }
    ADD_FAILURE() << "window " << number << " not listed";
    return AXWindowFacts{};
  };
  EXPECT_EQ(facts(window.number).frame, (Rect{40, 60, 800, 600}));
  EXPECT_EQ(facts(window.number).title, "Draft");
  EXPECT_EQ(facts(window.number).subrole, AXSubrole::standardWindow);
  EXPECT_EQ(facts(panel.number).subrole, AXSubrole::floatingWindow);
  EXPECT_EQ(facts(panel.number).frame, (Rect{10, 20, 200, 400}));
  EXPECT_EQ(facts(odd.number).subrole, AXSubrole::other) << "a subrole without a rule reads as other";
  EXPECT_TRUE(facts(odd.number).isMinimized);
  EXPECT_EQ(facts(odd.number).title, "");

  EXPECT_FALSE(ax.applicationWindows(4242, {})) << "no such application";
  sim.failAttribute(app.element(), "AXWindows", AXError::cannotComplete, 1);
  EXPECT_FALSE(ax.applicationWindows(app.pid, {})) << "an unreadable window list";
}

TEST(AXSubroleTest, NamesReadBackAndTheRulesSortThem) {
  for (AXSubrole subrole : {AXSubrole::standardWindow, AXSubrole::dialog, AXSubrole::documentWindow,
                            AXSubrole::systemDialog, AXSubrole::floatingWindow, AXSubrole::systemFloatingWindow}) {
    EXPECT_EQ(AXSubroles::parse(AXSubroles::name(subrole)), subrole);
    EXPECT_NE(AXSubroles::isStandard(subrole), AXSubroles::isFloating(subrole)) << AXSubroles::name(subrole);
  }
  EXPECT_EQ(AXSubroles::parse(""), AXSubrole::other);
  EXPECT_EQ(AXSubroles::parse("axstandardwindow"), AXSubrole::other) << "names are case-sensitive";
  EXPECT_FALSE(AXSubroles::isStandard(AXSubrole::other));
  EXPECT_FALSE(AXSubroles::isFloating(AXSubrole::other));
}

Task<std::string> readTitleOnQueue(AXFunnel& funnel, Accessibility& ax, AXElementRef element,
                                   std::vector<std::string>* places) {
  places->push_back(Executor::current()->label());
  std::string title = co_await funnel.run([&] {
    places->push_back(Executor::current()->label());
    const auto result = ax.copyAttributeValue(element, "AXTitle");
    const std::string* text = result.value.get<std::string>();
    return text ? *text : std::string();
  });
  places->push_back(Executor::current()->label());
  co_return title;
}

TEST_F(AXWindowTest, TasksRunOneJobOnTheQueueAndComeBack) {
  AXFunnel funnel(loop);
  EXPECT_EQ(funnel.queue().label(), "net.tarmeq.quorvel.ax");
  std::vector<std::string> places;
  auto handle = spawn(loop.main(), readTitleOnQueue(funnel, ax, window.ref(), &places));
  loop.runUntilIdle();
  ASSERT_TRUE(handle.isDone());
  EXPECT_EQ(handle.result(), "Draft");
  EXPECT_EQ(places, (std::vector<std::string>{"main", "net.tarmeq.quorvel.ax", "main"}));
}

TEST(AXFunnel, JobsFromTwoThreadsNeverOverlap) {
  ThreadRuntime runtime;
  AXFunnel funnel(runtime);
  std::atomic<int> inside{0};
  std::atomic<int> overlaps{0};
  std::vector<int> order;  // touched only by jobs on the queue
  constexpr int kJobs = 200;

  auto submit = [&](int base) {
    for (int i = 0; i < kJobs; ++i) {
      const int tag = funnel.runBlocking([&, i] {
        if (inside.fetch_add(1) != 0) ++overlaps;
        order.push_back(base + i);
        std::this_thread::yield();
        inside.fetch_sub(1);
        return base + i;
      });
      EXPECT_EQ(tag, base + i);
    }
  };
  std::thread first(submit, 0);
  std::thread second(submit, 10000);
  first.join();
  second.join();

  EXPECT_EQ(overlaps.load(), 0);
  ASSERT_EQ(order.size(), 2u * kJobs);
  // Each thread's jobs ran in the order that thread submitted them.
  int lastFirst = -1, lastSecond = 9999;
  for (int tag : order) {
    int& last = tag < 10000 ? lastFirst : lastSecond;
    EXPECT_GT(tag, last);
    last = tag;
  }
}

TEST(AXFunnel, BlockingRunFromTheQueueItselfRunsAtOnce) {
  ThreadRuntime runtime;
  AXFunnel funnel(runtime);
  const int answer = funnel.runBlocking([&] { return funnel.runBlocking([] { return 7; }) + 1; });
  EXPECT_EQ(answer, 8);
  funnel.runBlocking([] {});
}

}  // namespace
}  // namespace quorvel
