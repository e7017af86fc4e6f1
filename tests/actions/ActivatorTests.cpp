#include <gtest/gtest.h>

#include "actions/ActivatorFixture.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;

std::string pickLine(uint32_t id, const std::string& route) { return "Pick " + std::to_string(id) + ": " + route; }
std::string raiseLine(uint32_t id, const std::string& outcome, const std::string& state = "onCurrentSpace") {
  return "Window raise for " + std::to_string(id) + ": " + outcome + " (state=" + state + ")";
}
std::string tabLine(uint32_t id, const std::string& outcome) {
  return "Tab switch for " + std::to_string(id) + ": " + outcome;
}
const std::string kCameForward = "the window came forward";
const std::string kRecovered = "recovered after activating the app";
const std::string kRefusedTwice = "refused twice, so the app is in front with its own window";
const std::string kWindowRaise = "routed window-raise: this card carries no tab";

using ActivatorRoutes = ActivatorFixture;

TEST_F(ActivatorRoutes, RouteTextsFollowTheCardInOrder) {
  SimApp& app = editor();
  SimWindow& window = openWindow(app, "Notes");
  WindowCard card = cardFor(window);
  EXPECT_EQ(activator.routeDescription(card), kWindowRaise);

  WindowCard tab = card;
  tab.tab = WindowCard::TabFacts{.hostWindowID = window.number};
  EXPECT_EQ(activator.routeDescription(tab), "routed window-raise: this card's tab carries no element to press");
  tab.tab->element = handle(window);
  EXPECT_EQ(activator.routeDescription(tab), "routed tab-press: tab of window " + std::to_string(window.number));

  WindowCard windowless = WindowCard::applicationCard(kEditorPid, "Editor", "com.example.editor");
  windowless.state = WindowState::windowlessApp;
  EXPECT_EQ(activator.routeDescription(windowless), "an app with no window, opened again");

  // Our own process wins over every other condition.
  tab.pid = kOwnPid;
  EXPECT_EQ(activator.routeDescription(tab), "our own window, raised through the application object");
}

TEST_F(ActivatorRoutes, AWindowIsRaisedFocusedReportedAndLoggedWithItsRoute) {
  SimApp& app = editor();
  SimWindow& back = openWindow(app, "Back");
  SimWindow& front = openWindow(app, "Front");
  SimApp& other = launch(400, "com.example.other", "Other");
  openWindow(other, "Other").focus();
  loop.runUntilIdle();
  ASSERT_EQ(sim.frontApp(), 400);
  logs.clear();

  pick(cardFor(back));
  EXPECT_EQ(sim.frontApp(), kEditorPid);
  EXPECT_EQ(sim.focusedWindow(), back.number);
  EXPECT_EQ(sim.windowsOf(kEditorPid).front(), back.number);
  EXPECT_EQ(workspace.activations, (std::vector<int32_t>{kEditorPid}));
  EXPECT_EQ(raises, (std::vector<Raise>{{back.number, kEditorPid}}));
  EXPECT_TRUE(presses.empty());
  EXPECT_EQ(activatorLog(),
            (std::vector<std::string>{pickLine(back.number, kWindowRaise), raiseLine(back.number, kCameForward)}));
  // Every Accessibility call carried the time-out.
  EXPECT_FLOAT_EQ(sim.messagingTimeout(back.element()), 0.5f);
  (void)front;
}

TEST_F(ActivatorRoutes, OnlyAMinimizedWindowIsUnminimized) {
  SimApp& app = editor();
  SimWindow& shy = openWindow(app, "Shy");
  SimWindow& plain = openWindow(app, "Plain");
  int minimizedWrites = 0;
  sim.onAttributeSet(plain.element(), "AXMinimized", [&](SimElementId, const AXValue&) { ++minimizedWrites; });
  shy.minimize();
  ASSERT_TRUE(sim.isMinimized(shy.number));

  pick(cardFor(plain));
  EXPECT_EQ(minimizedWrites, 0);

  pick(cardFor(shy, WindowState::minimized));
  EXPECT_FALSE(sim.isMinimized(shy.number));
  EXPECT_EQ(sim.focusedWindow(), shy.number);
  EXPECT_EQ(activatorLog().back(), raiseLine(shy.number, kCameForward, "minimized"));
}

TEST_F(ActivatorRoutes, ARaiseRefusedOnceIsTriedAgainAfterEightyMillisecondsAndRecovers) {
  SimApp& app = editor();
  SimWindow& window = openWindow(app, "Stubborn");
  followFocus();
  sim.refuseAction(window.element(), "AXRaise", AXError::cannotComplete, 1);

  pick(cardFor(window));
  // The first refusal: the application is already activated, nothing is reported yet.
  EXPECT_EQ(sim.actionCount(window.element(), "AXRaise"), 1);
  EXPECT_EQ(workspace.activations.size(), 1u);
  EXPECT_TRUE(raises.empty());
  EXPECT_TRUE(logs.contains("AX raise refused: raise -25204, main 0"));
  EXPECT_EQ(sim.pointerWarps(), 0);

  loop.advance(79ms);
  EXPECT_EQ(sim.actionCount(window.element(), "AXRaise"), 1);
  loop.advance(1ms);
  EXPECT_EQ(sim.actionCount(window.element(), "AXRaise"), 2);
  EXPECT_EQ(activatorLog().back(), raiseLine(window.number, kRecovered));
  EXPECT_EQ(raises, (std::vector<Raise>{{window.number, kEditorPid}}));
  EXPECT_EQ(sim.pointerWarps(), 1);
  // The application is not activated a second time.
  EXPECT_EQ(workspace.activations.size(), 1u);
}

TEST_F(ActivatorRoutes, ARaiseRefusedTwiceLeavesTheAppInFrontWithoutAThirdTry) {
  SimApp& app = editor();
  SimWindow& window = openWindow(app, "Stubborn");
  followFocus();
  sim.refuseAction(window.element(), "AXRaise", AXError::cannotComplete, -1);

  pick(cardFor(window));
  loop.advance(1s);
  EXPECT_EQ(sim.actionCount(window.element(), "AXRaise"), 2);
  EXPECT_EQ(logs.count("AX raise refused: raise -25204, main 0"), 2u);
  EXPECT_EQ(logs.count(raiseLine(window.number, kRefusedTwice)), 1u);
  EXPECT_FALSE(logs.contains(raiseLine(window.number, kRecovered)));
  EXPECT_EQ(workspace.activations, (std::vector<int32_t>{kEditorPid}));
  EXPECT_EQ(sim.frontApp(), kEditorPid);
  EXPECT_TRUE(raises.empty());
  EXPECT_EQ(sim.pointerWarps(), 0);
  EXPECT_EQ(loop.pendingTimers(), 0u);
}

TEST_F(ActivatorRoutes, AFailedMainWriteDoesNotSpoilAnAcceptedRaise) {
  SimApp& app = editor();
  SimWindow& window = openWindow(app, "Half");
  sim.failSetAttribute(window.element(), "AXMain", AXError::attributeUnsupported);

  pick(cardFor(window));
  EXPECT_EQ(activatorLog().back(), raiseLine(window.number, kCameForward));
  for (const std::string& line : activatorLog()) EXPECT_EQ(line.find("AX raise refused"), std::string::npos) << line;
  EXPECT_EQ(raises.size(), 1u);
}

TEST_F(ActivatorRoutes, AWindowThatVanishedBeforeTheActionEndsWithItsAppInFront) {
  SimApp& app = editor();
  SimWindow& keeps = openWindow(app, "Keeps");
  SimWindow& gone = openWindow(app, "Gone");
  const WindowCard card = cardFor(gone);
  gone.close();
  launch(400, "com.example.other", "Other").activate();
  loop.runUntilIdle();

  pick(card);
  loop.advance(100ms);
  EXPECT_EQ(logs.count("AX raise refused: raise -25202, main -25202"), 2u);
  EXPECT_EQ(activatorLog().back(), raiseLine(gone.number, kRefusedTwice));
  EXPECT_EQ(sim.frontApp(), kEditorPid);
  EXPECT_EQ(sim.focusedWindow(), keeps.number);
  EXPECT_TRUE(raises.empty());

  // With its application gone as well there is nothing to activate.
  app.quit();
  workspace.activations.clear();
  pick(card);
  loop.advance(100ms);
  EXPECT_TRUE(workspace.activations.empty());
  EXPECT_EQ(activatorLog().back(), raiseLine(gone.number, kRefusedTwice));
}

TEST_F(ActivatorRoutes, AWindowWithoutAHandleOnlyActivatesItsApp) {
  SimApp& app = editor();
  SimWindow& window = openWindow(app, "Elsewhere");
  WindowCard card = cardFor(window, WindowState::onOtherSpace);
  card.ax = nullptr;

  activator.pick(card);
  // Done at once, without a task.
  EXPECT_EQ(workspace.activations, (std::vector<int32_t>{kEditorPid}));
  EXPECT_EQ(activatorLog(),
            (std::vector<std::string>{
                pickLine(window.number, kWindowRaise),
                "Window raise for " + std::to_string(window.number) +
                    ": no Accessibility handle for this window, so only the app was activated (Editor, "
                    "state=onOtherSpace)"}));
  loop.runUntilIdle();
  EXPECT_TRUE(raises.empty());
  EXPECT_EQ(sim.actionCount(window.element(), "AXRaise"), 0);
}

TEST_F(ActivatorRoutes, AHiddenAppIsUnhiddenBeforeItsWindowIsRaised) {
  SimApp& app = editor();
  SimWindow& window = openWindow(app, "Hidden");
  app.hide();
  ASSERT_TRUE(sim.isHidden(kEditorPid));

  pick(cardFor(window, WindowState::hiddenApp));
  EXPECT_FALSE(sim.isHidden(kEditorPid));
  EXPECT_EQ(workspace.unhides, (std::vector<int32_t>{kEditorPid}));
  EXPECT_EQ(sim.frontApp(), kEditorPid);
  EXPECT_EQ(activatorLog().back(), raiseLine(window.number, kCameForward, "hiddenApp"));
}

TEST_F(ActivatorRoutes, AWindowlessAppIsOpenedAgainThroughItsBundleAndNeverLogged) {
  sim.launchApp({.pid = 500, .bundleID = "com.example.mail", .name = "Mail", .bundleURL = "/Applications/Mail.app",
                 .hidden = true});
  WindowCard card = WindowCard::applicationCard(500, "Mail", "com.example.mail");
  card.state = WindowState::windowlessApp;

  pick(card);
  EXPECT_EQ(workspace.unhides, (std::vector<int32_t>{500}));
  EXPECT_EQ(sim.openRequests(), (std::vector<SimOpenRequest>{{"/Applications/Mail.app", true}}));
  EXPECT_TRUE(workspace.activations.empty());
  EXPECT_TRUE(activatorLog().empty());

  // Without a bundle it is activated; not running, nothing happens.
  sim.launchApp({.pid = 501, .bundleID = "com.example.tool", .name = "Tool"});
  WindowCard bare = WindowCard::applicationCard(501, "Tool", "com.example.tool");
  bare.state = WindowState::windowlessApp;
  pick(bare);
  EXPECT_EQ(workspace.activations, (std::vector<int32_t>{501}));
  EXPECT_EQ(sim.frontApp(), 501);

  WindowCard absent = WindowCard::applicationCard(502, "Gone", std::nullopt);
  absent.state = WindowState::windowlessApp;
  pick(absent);
  EXPECT_EQ(workspace.activations.size(), 1u);
  EXPECT_EQ(sim.openRequests().size(), 1u);
  EXPECT_TRUE(activatorLog().empty());
  EXPECT_TRUE(raises.empty());
}

TEST_F(ActivatorRoutes, OwnWindowsAreRaisedThroughTheApplicationEvenWhenMinimized) {
  SimApp& self = launch(kOwnPid, "net.tarmeq.quorvel", "Quorvel");
  SimWindow& settingsWindow = openWindow(self, "Settings");
  SimWindow& other = openWindow(self, "Tour");
  settingsWindow.minimize();
  editor().openWindow({.title = "Editor"}).focus();
  loop.runUntilIdle();
  followFocus();

  ASSERT_TRUE(activator.ownWindow(cardFor(settingsWindow)));
  EXPECT_EQ(activator.ownWindow(cardFor(settingsWindow))->number, settingsWindow.number);

  pick(cardFor(settingsWindow, WindowState::minimized));
  EXPECT_FALSE(sim.isMinimized(settingsWindow.number));
  EXPECT_EQ(sim.ownActivations(), 1);
  EXPECT_EQ(sim.ownKeyWindowRequests(), 1);
  EXPECT_EQ(sim.frontApp(), kOwnPid);
  EXPECT_EQ(sim.focusedWindow(), settingsWindow.number);
  EXPECT_EQ(raises, (std::vector<Raise>{{settingsWindow.number, kOwnPid}}));
  EXPECT_EQ(sim.pointerWarps(), 1);
  EXPECT_TRUE(activatorLog().empty());
  EXPECT_TRUE(workspace.activations.empty());

  // A card of ours whose window is gone: nothing happens.
  WindowCard stale = cardFor(other);
  other.close();
  raises.clear();
  pick(stale);
  EXPECT_FALSE(activator.ownWindow(stale));
  EXPECT_TRUE(raises.empty());
  EXPECT_EQ(sim.ownActivations(), 1);
}

TEST_F(ActivatorRoutes, OwnWindowIsNoneForAnotherProcessEvenWithTheSameNumber) {
  SimApp& app = editor();
  SimWindow& window = openWindow(app, "Foreign");
  WindowCard card = cardFor(window);
  EXPECT_FALSE(activator.ownWindow(card));
  card.pid = kOwnPid;  // our process, but no window of ours has that number
  EXPECT_FALSE(activator.ownWindow(card));
}

// ---- Tabs ----

TEST_F(ActivatorRoutes, APressedTabIsReportedBeforeItsHostWindowIsRaised) {
  SimApp& app = chrome();
  SimWindow& window = openWindow(app, "Chrome");
  const BuiltStrip strip = BrowserTrees::chromium(sim, window.number, BrowserTrees::numberedTabs(3));
  const WindowCard card = tabCard(app, window, walk(window), 2, 0xC0000005u);
  launch(400, "com.example.other", "Other").activate();
  loop.runUntilIdle();
  followFocus();
  logs.clear();

  pick(card);
  const AXAttributeResult selected = sim.attribute(strip.tabs[2], "AXSelected");
  ASSERT_TRUE(selected.ok());
  EXPECT_TRUE(*selected.value.get<bool>());
  EXPECT_EQ(presses, (std::vector<Press>{{0xC0000005u, window.number}}));
  // The host's id is reported, not the tab's.
  EXPECT_EQ(raises, (std::vector<Raise>{{window.number, kChromePid}}));
  EXPECT_EQ(events, (std::vector<std::string>{"press " + std::to_string(0xC0000005u),
                                              "raise " + std::to_string(window.number)}));
  EXPECT_EQ(sim.frontApp(), kChromePid);
  EXPECT_EQ(sim.pointerWarps(), 1);
  EXPECT_EQ(activatorLog(), (std::vector<std::string>{pickLine(
                                0xC0000005u, "routed tab-press: tab of window " + std::to_string(window.number))}));
}

TEST_F(ActivatorRoutes, ATabThatIsNotPressedStillBringsItsWindowForward) {
  SimApp& app = chrome();
  SimWindow& window = openWindow(app, "Chrome");
  SimWindow& other = openWindow(app, "Other Chrome");
  const BuiltStrip strip = BrowserTrees::chromium(sim, window.number, BrowserTrees::numberedTabs(3));
  WindowCard card = tabCard(app, window, walk(window), 1);
  card.title = "";  // neither element nor title nor ordinal can find it once the strip changed
  BrowserTrees::rebuild(sim, strip, BrowserTrees::numberedTabs(5));
  ASSERT_EQ(sim.focusedWindow(kChromePid), other.number);

  pick(card);
  EXPECT_TRUE(presses.empty());
  EXPECT_EQ(raises, (std::vector<Raise>{{window.number, kChromePid}}));
  EXPECT_EQ(sim.focusedWindow(kChromePid), window.number);
}

TEST_F(ActivatorRoutes, ATabWithoutAnElementTakesTheWindowRoute) {
  SimApp& app = chrome();
  SimWindow& window = openWindow(app, "Chrome");
  BrowserTrees::chromium(sim, window.number, BrowserTrees::numberedTabs(2));
  WindowCard card = tabCard(app, window, walk(window), 1, 0xC0000009u);
  card.tab->element = nullptr;

  pick(card);
  EXPECT_EQ(activatorLog().front(),
            pickLine(0xC0000009u, "routed window-raise: this card's tab carries no element to press"));
  EXPECT_EQ(activatorLog().back(), raiseLine(0xC0000009u, kCameForward, "browserTab"));
  EXPECT_TRUE(presses.empty());
  EXPECT_EQ(raises, (std::vector<Raise>{{0xC0000009u, kChromePid}}));
}

TEST_F(ActivatorRoutes, ATabWithoutAHandleToRaiseOnlyActivatesTheBrowser) {
  SimApp& app = chrome();
  SimWindow& window = openWindow(app, "Chrome");
  const BuiltStrip strip = BrowserTrees::chromium(sim, window.number, BrowserTrees::numberedTabs(2));
  WindowCard card = tabCard(app, window, walk(window), 1);
  card.ax = nullptr;

  pick(card);
  // Pressed through its own element (no host candidates to walk, so nothing is found), not raised.
  EXPECT_EQ(activatorLog().back(), tabLine(card.id, "no Accessibility handle, activating the app"));
  EXPECT_EQ(workspace.activations, (std::vector<int32_t>{kChromePid}));
  EXPECT_TRUE(raises.empty());
  (void)strip;
}

TEST_F(ActivatorRoutes, ATabOfAMinimizedHostUnminimizesIt) {
  SimApp& app = chrome();
  SimWindow& window = openWindow(app, "Chrome");
  BrowserTrees::chromium(sim, window.number, BrowserTrees::numberedTabs(2));
  WindowCard card = tabCard(app, window, walk(window), 0);
  card.tab->deminimizeHost = true;
  window.minimize();

  pick(card);
  EXPECT_FALSE(sim.isMinimized(window.number));
  EXPECT_EQ(raises, (std::vector<Raise>{{window.number, kChromePid}}));
}

TEST_F(ActivatorRoutes, TabsThatAreWindowsRaiseTheMainWindowOnlyWhenItShowsTheTab) {
  SimApp& app = finder();
  SimWindow& window = openWindow(app, "Documents", {100, 100, 900, 600});
  BrowserTrees::tabbedWindows(sim, window.number, BrowserTrees::numberedTabs(3, "Folder "));
  const WindowCard card = tabCard(app, window, walk(window), 1);

  pick(card);
  ASSERT_EQ(presses.size(), 1u);
  EXPECT_EQ(raises, (std::vector<Raise>{{window.number, kFinderPid}}));

  // The main window is now another one with another frame: the press already did the work.
  SimWindow& elsewhere = openWindow(app, "Elsewhere", {300, 300, 500, 400});
  elsewhere.focus();
  loop.runUntilIdle();
  raises.clear();
  workspace.activations.clear();
  pick(card);
  EXPECT_EQ(presses.size(), 2u);
  EXPECT_TRUE(raises.empty());
  EXPECT_EQ(activatorLog().back(), tabLine(card.id, "raising nothing, the press already put this tab in front"));
  EXPECT_EQ(workspace.activations, (std::vector<int32_t>{kFinderPid}));
}

// ---- Pointer ----

TEST_F(ActivatorRoutes, ThePointerFollowsTheRaisedWindowOnlyWhenAskedAndFree) {
  SimApp& app = editor();
  SimWindow& window = openWindow(app, "Target", {100, 200, 800, 600});
  sim.setPointerLocation({5, 5});

  // Off by default.
  activator.warpPointerIfWanted(Rect{100, 200, 800, 600});
  pick(cardFor(window));
  EXPECT_EQ(sim.pointerWarps(), 0);

  followFocus();
  activator.warpPointerIfWanted(Rect{100, 200, 0, 600});
  activator.warpPointerIfWanted(Rect{100, 200, 800, -1});
  EXPECT_EQ(sim.pointerWarps(), 0);

  sim.setPressedButtons(Pointer::kPrimaryButton);
  pick(cardFor(window));
  EXPECT_EQ(sim.pointerWarps(), 0);

  sim.setPressedButtons(0);
  pick(cardFor(window));
  EXPECT_EQ(sim.pointerWarps(), 1);
  EXPECT_EQ(sim.pointerLocation().x, 500);
  EXPECT_EQ(sim.pointerLocation().y, 500);
  EXPECT_TRUE(sim.pointerAssociated());
}

TEST_F(ActivatorRoutes, PicksRunIndependentlyWhileAnEarlierOneWaitsForItsRetry) {
  SimApp& app = editor();
  SimWindow& stubborn = openWindow(app, "Stubborn");
  SimWindow& willing = openWindow(app, "Willing");
  sim.refuseAction(stubborn.element(), "AXRaise", AXError::cannotComplete, 1);

  pick(cardFor(stubborn));
  pick(cardFor(willing));
  EXPECT_EQ(raises, (std::vector<Raise>{{willing.number, kEditorPid}}));
  loop.advance(80ms);
  EXPECT_EQ(raises, (std::vector<Raise>{{willing.number, kEditorPid}, {stubborn.number, kEditorPid}}));
  EXPECT_EQ(activatorLog().back(), raiseLine(stubborn.number, kRecovered));
}

TEST_F(ActivatorRoutes, ARouteOutlivesTheActivatorThatStartedIt) {
  SimApp& app = editor();
  SimWindow& window = openWindow(app, "Late");
  sim.refuseAction(window.element(), "AXRaise", AXError::cannotComplete, 1);
  {
    Activator brief{ActivatorServices{loop, platform(), funnel, settings, tabActivation, hooks}};
    brief.pick(cardFor(window));
    loop.runUntilIdle();
  }
  loop.advance(80ms);
  EXPECT_EQ(raises, (std::vector<Raise>{{window.number, kEditorPid}}));
}

}  // namespace
}  // namespace quorvel
