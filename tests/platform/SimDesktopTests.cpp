#include <gtest/gtest.h>

#include <thread>

#include "base/ManualLoop.h"
#include "platform/DesktopServer.h"
#include "platform/Displays.h"
#include "platform/ShareableContent.h"
#include "platform/WindowServer.h"
#include "platform/Workspace.h"
#include "platform/sim/SimApp.h"
#include "platform/sim/SimDesktop.h"
#include "platform/sim/SimWindow.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;

std::vector<uint32_t> numbers(const std::optional<std::vector<WindowListEntry>>& list) {
  std::vector<uint32_t> out;
  for (const auto& e : list.value()) out.push_back(e.number.value());
  return out;
}

ShareableContentResult fetch(SimDesktop& sim, ManualLoop& loop) {
  std::optional<ShareableContentResult> answer;
  sim.shareableContent().getShareableContent(false, false, [&](ShareableContentResult r) { answer = std::move(r); });
  loop.runUntil([&] { return answer.has_value(); }, 60s);
  return answer.value();
}

SimDesktopOptions twoDisplays() {
  SimDesktopOptions options;
  options.displays = {
      SimDisplaySpec{.id = 1, .frame = {0, 0, 1920, 1080}, .name = "Built-in", .desktops = 2},
      SimDisplaySpec{.id = 2, .frame = {1920, 80, 1280, 800}, .name = "Side", .desktops = 1},
  };
  return options;
}

TEST(SimDisplays, ScreensAreReportedBottomLeftWhileBoundsStayTopLeft) {
  ManualLoop loop;
  SimDesktop sim(loop, twoDisplays());
  auto screens = sim.displays().screens();
  ASSERT_EQ(screens.size(), 2u);
  EXPECT_EQ(screens[0].frame, (Rect{0, 0, 1920, 1080}));
  EXPECT_EQ(screens[0].visibleFrame, (Rect{0, 0, 1920, 1055}));  // less the top panel
  EXPECT_EQ(screens[1].frame, (Rect{1920, 200, 1280, 800}));
  EXPECT_EQ(screens[1].screenNumber, 2u);
  EXPECT_EQ(screens[1].localizedName, "Side");
  EXPECT_FALSE(screens[1].uuid.empty());
  EXPECT_NE(screens[0].uuid, screens[1].uuid);
  EXPECT_EQ(sim.displays().mainDisplayID(), 1u);
  EXPECT_EQ(sim.windowServer().activeDisplays(), (std::vector<uint32_t>{1, 2}));
  EXPECT_EQ(sim.windowServer().displayBounds(2), (Rect{1920, 80, 1280, 800}));
  EXPECT_EQ(sim.windowServer().displayBounds(9), std::nullopt);

  // A new main display is listed first and sets the flip height.
  sim.setMainDisplay(2);
  screens = sim.displays().screens();
  EXPECT_EQ(screens[0].screenNumber, 2u);
  EXPECT_EQ(screens[1].frame, (Rect{0, 800 - 1080, 1920, 1080}));
}

TEST(SimWindows, SwitchingDesktopsChangesWhatIsOnScreen) {
  ManualLoop loop;
  SimDesktop sim(loop, twoDisplays());
  auto& mail = sim.launchApp({.pid = 100, .bundleID = "com.apple.mail", .name = "Mail"});
  const auto desk = sim.desktops(1);
  ASSERT_EQ(desk.size(), 2u);
  auto& inbox = mail.openWindow({.title = "Inbox", .frame = {0, 0, 800, 600}});
  auto& drafts = mail.openWindow({.title = "Drafts", .frame = {0, 0, 800, 600}, .desktop = desk[1]});
  auto& side = mail.openWindow({.title = "Side", .frame = {2000, 100, 400, 400}});
  auto& gone = mail.openWindow({.title = "Gone", .frame = {0, 0, 300, 300}, .minimized = true});

  EXPECT_EQ(sim.desktopsOf(side.number), sim.desktops(2));  // placed on the display it lies on
  EXPECT_EQ(numbers(sim.windowServer().onScreenWindows()), (std::vector<uint32_t>{side.number, inbox.number}));

  ASSERT_TRUE(sim.switchDesktop(desk[1]));
  EXPECT_EQ(numbers(sim.windowServer().onScreenWindows()), (std::vector<uint32_t>{side.number, drafts.number}));

  // The capture service lists every window, with its on-screen state and application.
  auto content = fetch(sim, loop);
  ASSERT_FALSE(content.error);
  ASSERT_EQ(content.windows.size(), 4u);
  std::map<uint32_t, bool> onScreen;
  for (const auto& w : content.windows) {
    onScreen[w.windowID] = w.isOnScreen;
    ASSERT_TRUE(w.owningApplication);
    EXPECT_EQ(w.owningApplication->bundleIdentifier, "com.apple.mail");
  }
  EXPECT_EQ(onScreen, (std::map<uint32_t, bool>{
                          {inbox.number, false}, {drafts.number, true}, {side.number, true}, {gone.number, false}}));

  // Only windows of shown desktops (and minimized ones) are in the application's "AXWindows".
  auto& ax = sim.accessibility();
  auto windows = ax.copyAttributeValue(ax.applicationElement(100), "AXWindows");
  ASSERT_TRUE(windows.ok());
  std::vector<uint32_t> listed;
  for (const auto& e : *windows.value.get<AXValue::Elements>()) listed.push_back(ax.windowNumber(e).value());
  EXPECT_EQ(listed, (std::vector<uint32_t>{gone.number, side.number, drafts.number}));

  // Hiding the application takes every window off screen.
  sim.hideApp(100);
  EXPECT_TRUE(sim.windowServer().onScreenWindows()->empty());
}

TEST(SimWindows, FocusRaisesActivatesAndShowsTheWindowsDesktop) {
  ManualLoop loop;
  SimDesktop sim(loop, twoDisplays());
  auto& a = sim.launchApp({.pid = 100, .name = "A", .activate = true});
  auto& b = sim.launchApp({.pid = 200, .name = "B"});
  auto& a1 = a.openWindow({.title = "a1"});
  auto& b1 = b.openWindow({.title = "b1"});
  auto& a2 = a.openWindow({.title = "a2", .desktop = sim.desktops(1)[1]});
  EXPECT_EQ(sim.stackingOrder(), (std::vector<uint32_t>{a2.number, b1.number, a1.number}));
  EXPECT_EQ(sim.onScreenOrder(), (std::vector<uint32_t>{b1.number, a1.number}));

  ASSERT_TRUE(a1.focus());
  EXPECT_EQ(sim.onScreenOrder(), (std::vector<uint32_t>{a1.number, b1.number}));
  EXPECT_EQ(sim.frontApp(), 100);
  EXPECT_EQ(sim.focusedWindow(), a1.number);

  ASSERT_TRUE(a2.focus());  // on the other desktop: the display switches to it
  EXPECT_EQ(sim.currentDesktop(1), sim.desktops(1)[1]);
  EXPECT_EQ(sim.onScreenOrder(), (std::vector<uint32_t>{a2.number}));

  ASSERT_TRUE(b1.focus());
  EXPECT_EQ(sim.frontApp(), 200);
  EXPECT_EQ(sim.workspace().frontmostApplication()->pid, 200);

  // Raising moves a window forward without activating its application.
  ASSERT_TRUE(sim.switchDesktop(sim.desktops(1)[0]));
  ASSERT_TRUE(a1.raise());
  EXPECT_EQ(sim.onScreenOrder().front(), a1.number);
  EXPECT_EQ(sim.frontApp(), 200);

  // Minimizing the focused window hands the focus to the application's next window.
  a.openWindow({.title = "a3"});
  EXPECT_EQ(a.focusedWindow(), sim.stackingOrder().front());
  sim.minimizeWindow(sim.stackingOrder().front());
  EXPECT_EQ(a.focusedWindow(), a1.number);
}

TEST(SimWindows, ActivatingWithAllWindowsBringsThemForwardInTheirOrder) {
  ManualLoop loop;
  SimDesktop sim(loop);
  auto& a = sim.launchApp({.pid = 100, .name = "A"});
  auto& b = sim.launchApp({.pid = 200, .name = "B"});
  auto& a1 = a.openWindow();
  auto& b1 = b.openWindow();
  auto& a2 = a.openWindow();
  auto& b2 = b.openWindow();
  a1.focus();  // A's focused window: a1
  b2.focus();
  EXPECT_EQ(sim.onScreenOrder(), (std::vector<uint32_t>{b2.number, a1.number, a2.number, b1.number}));
  sim.activateApp(100);  // only its focused window comes forward
  EXPECT_EQ(sim.onScreenOrder(), (std::vector<uint32_t>{a1.number, b2.number, a2.number, b1.number}));
  b2.focus();
  sim.workspace().activate(100, true);
  EXPECT_EQ(sim.onScreenOrder(), (std::vector<uint32_t>{a1.number, a2.number, b2.number, b1.number}));
}

TEST(SimDisplays, WindowsOfARemovedDesktopOrDisplayLandOnAShownDesktop) {
  ManualLoop loop;
  SimDesktop sim(loop, twoDisplays());
  auto& app = sim.launchApp({.pid = 100, .name = "A"});
  const auto main = sim.desktops(1);
  auto& second = app.openWindow({.desktop = main[1]});
  auto& side = app.openWindow({.frame = {2000, 100, 400, 400}});
  sim.switchDesktop(main[1]);
  ASSERT_TRUE(sim.removeDesktop(main[1]));
  EXPECT_EQ(sim.desktops(1), (std::vector<int64_t>{main[0]}));
  EXPECT_EQ(sim.currentDesktop(1), main[0]);
  EXPECT_EQ(sim.desktopsOf(second.number), (std::vector<int64_t>{main[0]}));
  EXPECT_TRUE(second.isOnScreen());

  ASSERT_TRUE(sim.removeDisplay(2));
  EXPECT_EQ(sim.displayIDs(), (std::vector<uint32_t>{1}));
  EXPECT_EQ(sim.desktopsOf(side.number), (std::vector<int64_t>{main[0]}));
  EXPECT_EQ(sim.displays().screens().size(), 1u);
}

TEST(SimWorkspace, NotificationsArriveOnTheMainQueueInOrder) {
  ManualLoop loop;
  SimDesktop sim(loop);
  std::vector<std::string> seen;
  auto& ws = sim.workspace();
  auto watch = [&](Workspace::Event event, const char* name) {
    return ws.addObserver(event, [&seen, name, &loop](Workspace::Event, const RunningApplication& app) {
      EXPECT_TRUE(loop.main().isCurrent());
      seen.push_back(std::string(name) + " " + std::to_string(app.pid));
    });
  };
  const Subscription launches = watch(Workspace::Event::didLaunchApplication, "launch");
  Subscription activation = watch(Workspace::Event::didActivateApplication, "activate");
  const Subscription terminations = watch(Workspace::Event::didTerminateApplication, "terminate");
  const Subscription hides = watch(Workspace::Event::didHideApplication, "hide");
  const Subscription unhides = watch(Workspace::Event::didUnhideApplication, "unhide");

  auto& a = sim.launchApp({.pid = 100, .name = "A", .activate = true});
  auto& b = sim.launchApp({.pid = 200, .name = "B"});
  a.openWindow();
  b.openWindow();
  EXPECT_TRUE(seen.empty());  // nothing is delivered until the main queue runs
  loop.runUntilIdle();
  EXPECT_EQ(seen, (std::vector<std::string>{"launch 100", "activate 100", "launch 200"}));

  seen.clear();
  b.hide();
  EXPECT_TRUE(ws.activate(200, false));  // unhides, then activates
  a.quit();                             // not in front: nobody else is activated
  loop.runUntilIdle();
  EXPECT_EQ(seen, (std::vector<std::string>{"hide 200", "unhide 200", "activate 200", "terminate 100"}));

  auto running = ws.runningApplications();
  ASSERT_EQ(running.size(), 1u);
  EXPECT_TRUE(running[0].isActive);

  seen.clear();
  sim.launchApp({.pid = 300, .name = "C", .activate = true});
  activation.cancel();  // removed before delivery: never called
  loop.runUntilIdle();
  EXPECT_EQ(seen, (std::vector<std::string>{"launch 300"}));
}

TEST(SimWorkspace, QuittingTheFrontApplicationBringsTheNextWindowsOwnerForward) {
  ManualLoop loop;
  SimDesktop sim(loop);
  auto& a = sim.launchApp({.pid = 100, .name = "A"});
  auto& b = sim.launchApp({.pid = 200, .name = "B"});
  a.openWindow();
  auto& bw = b.openWindow();
  bw.focus();
  const SimElementId element = bw.element();
  b.quit();
  EXPECT_EQ(sim.frontApp(), 100);
  EXPECT_FALSE(bw.exists());
  EXPECT_FALSE(sim.elementExists(element));
  EXPECT_EQ(sim.accessibility().copyAttributeValue(sim.ref(element), "AXTitle").error, AXError::invalidElement);
}

TEST(SimDesktopServer, ListsDesktopsWithTypesAndFailsByGroup) {
  ManualLoop loop;
  SimDesktop sim(loop, twoDisplays());
  auto& app = sim.launchApp({.pid = 100, .name = "A"});
  auto& w1 = app.openWindow({.title = "one"});
  auto& w2 = app.openWindow({.title = "two"});
  auto& pinned = app.openWindow({.title = "pinned", .sticky = true});
  const int64_t full = sim.addFullScreenDesktop(1, w2.number);
  auto& server = sim.desktopServer();

  auto spaces = server.copyManagedDisplaySpaces();
  ASSERT_TRUE(spaces);
  ASSERT_EQ(spaces->size(), 2u);
  const auto& main = (*spaces)[0];
  EXPECT_EQ(main.currentSpaceID, full);
  ASSERT_EQ(main.spaces.size(), 3u);
  EXPECT_EQ(main.spaces[1].id64, full);  // right after the desktop it was made from
  EXPECT_EQ(main.spaces[1].type, 4);
  EXPECT_EQ(main.spaces[0].type, 0);
  EXPECT_EQ(w2.frame(), (Rect{0, 0, 1920, 1080}));
  EXPECT_EQ(sim.onScreenOrder(), (std::vector<uint32_t>{w2.number, pinned.number}));

  EXPECT_EQ(server.copyWindowsOnSpace(full, 7), (std::vector<uint32_t>{w2.number, pinned.number}));
  EXPECT_EQ(server.copySpacesForWindows({w1.number}, 7), (std::vector<int64_t>{sim.desktops(1)[0]}));
  EXPECT_EQ(server.copySpacesForWindows({pinned.number}, 7)->size(), 4u);

  sim.setSeparateSpaces(false);
  spaces = server.copyManagedDisplaySpaces();
  ASSERT_EQ(spaces->size(), 1u);
  EXPECT_EQ((*spaces)[0].displayIdentifier, "Main");

  sim.setDesktopGroupAvailable(DesktopServer::Group::spaces, false);
  EXPECT_FALSE(server.isAvailable(DesktopServer::Group::spaces));
  EXPECT_FALSE(server.copyManagedDisplaySpaces());
  EXPECT_FALSE(server.copySpacesForWindows({w1.number}, 7));
  EXPECT_TRUE(server.copyWindowsOnSpace(full, 7));  // another group
  sim.failDesktopCall(SimDesktopCall::windowsOnSpace);
  EXPECT_FALSE(server.copyWindowsOnSpace(full, 7));
  EXPECT_EQ(sim.desktopCalls(SimDesktopCall::windowsOnSpace), 3);

  EXPECT_FALSE(server.moveWindowsToSpace({w1.number}, 0));
  EXPECT_TRUE(server.moveWindowsToSpace({w1.number}, sim.desktops(2)[0]));
  EXPECT_EQ(sim.desktopsOf(w1.number), sim.desktops(2));
  EXPECT_EQ(server.setWindowBackgroundBlur(w1.number, -5), 0);
  EXPECT_EQ(sim.blurRadius(w1.number), 0);
  sim.setDesktopGroupAvailable(DesktopServer::Group::blur, false);
  EXPECT_NE(server.setWindowBackgroundBlur(w1.number, 20), 0);
}

TEST(SimFailures, WindowListAndShareableContentCanFailOrLag) {
  ManualLoop loop;
  SimDesktop sim(loop);
  sim.launchApp({.pid = 100, .name = "A"}).openWindow();
  sim.setWindowListAvailable(false);
  EXPECT_EQ(sim.windowServer().onScreenWindows(), std::nullopt);
  sim.setWindowListAvailable(true);
  EXPECT_EQ(sim.windowServer().onScreenWindows()->size(), 1u);
  sim.transformWindowList([](std::vector<WindowListEntry>& list) { list[0].number.reset(); });
  EXPECT_FALSE(sim.windowServer().onScreenWindows()->at(0).number);
  EXPECT_EQ(sim.windowListCalls(), 3);

  sim.failShareableContent("no content", 1);
  EXPECT_EQ(fetch(sim, loop).error, "no content");
  EXPECT_EQ(fetch(sim, loop).windows.size(), 1u);

  sim.setShareableContentDelay(3s);
  bool answered = false;
  sim.shareableContent().getShareableContent(false, false, [&](ShareableContentResult) { answered = true; });
  loop.runUntilIdle();
  EXPECT_FALSE(answered);
  loop.advance(3s);
  EXPECT_TRUE(answered);
  EXPECT_EQ(sim.shareableContentRequests(), 3);
}

TEST(SimInput, IdleTimeGrowsWithTheClockAndCanBeUnavailable) {
  ManualLoop loop;
  SimDesktop sim(loop);
  auto& idle = sim.inputIdle();
  sim.setIdleSeconds(InputIdle::Source::hidSystem, 30);
  loop.advance(5s);
  EXPECT_DOUBLE_EQ(*idle.secondsSinceLastEvent(InputIdle::Source::hidSystem), 35);
  EXPECT_DOUBLE_EQ(*idle.secondsSinceLastEvent(InputIdle::Source::combinedSession), 5);
  sim.setIdleSeconds(std::nullopt);
  EXPECT_EQ(idle.secondsSinceLastEvent(InputIdle::Source::hidSystem), std::nullopt);
}

TEST(SimThreads, TheWorldCanBeDrivenAndReadFromSeveralThreads) {
  ManualLoop loop;
  SimDesktop sim(loop);
  auto& app = sim.launchApp({.pid = 100, .name = "A"});
  std::vector<uint32_t> windows;
  for (int i = 0; i < 4; ++i) windows.push_back(app.openWindow().number);
  std::thread focuser([&] {
    for (int i = 0; i < 400; ++i) sim.focusWindow(windows[i % windows.size()]);
  });
  size_t longest = 0;
  for (int i = 0; i < 400; ++i) longest = std::max(longest, sim.windowServer().onScreenWindows()->size());
  focuser.join();
  EXPECT_EQ(longest, 4u);
  EXPECT_EQ(sim.focusedWindow(), windows[399 % windows.size()]);
}

}  // namespace
}  // namespace quorvel
