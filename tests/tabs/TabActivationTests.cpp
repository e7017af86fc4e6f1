#include <gtest/gtest.h>

#include "tabs/TabActivation.h"
#include "tabs/TabFixture.h"

namespace quorvel {
namespace {

const std::string kRefused =
    "tab press refused (%d); the window is still coming forward, on whichever tab it was already showing";
const std::string kBothRefused =
    "both the tab strip and the Window menu refused this tab; the window is still coming forward, on whichever tab "
    "it was already showing";
const std::string kNotFound =
    "could not find this tab in any strip or in the Window menu, so nothing was pressed; the window is still coming "
    "forward, on whichever tab it was already showing";
const std::string kNoAdapter =
    "no tab adapter for this card's application any more, so nothing was pressed; the window is still coming forward";
const std::string kMenuPressed = "the tab strip would not answer, so this tab was switched to through the Window menu instead";
const std::string kMenuNoMatch =
    "the Window menu holds nothing this tab can be matched to, so nothing was pressed; the window is still coming "
    "forward, on whichever tab it was already showing";
const std::string kMenuRefused =
    "the Window menu item for this tab was refused (%d); the window is still coming forward, on whichever tab it "
    "was already showing";
const std::string kTook = "tab press took: the tab reports itself selected";
const std::string kNotSelectedYet = "tab press accepted, the tab does not report itself selected yet";
const std::string kNotTold = "tab press accepted, the tab will not say whether it is selected";

std::string withCode(const std::string& sentence, int code) {
  const size_t at = sentence.find("%d");
  return sentence.substr(0, at) + std::to_string(code) + sentence.substr(at + 2);
}

bool isSelected(SimDesktop& sim, SimElementId tab) {
  const AXAttributeResult r = sim.attribute(tab, "AXSelected");
  return r.ok() && r.value.get<bool>() && *r.value.get<bool>();
}

int64_t valueOf(SimDesktop& sim, SimElementId tab) {
  const AXAttributeResult r = sim.attribute(tab, "AXValue");
  return r.ok() && r.value.get<int64_t>() ? *r.value.get<int64_t>() : -1;
}

class TabActivate : public TabFixture {
 protected:
  TabPressOutcome activate(const WindowCard& card) {
    const std::optional<TabTarget> target = card.tabTarget();
    if (!target) return TabPressOutcome::nothingPressed();
    return axJob([this, target] { return activation.activate(*target); });
  }
  std::vector<std::string> activationLog() { return logs.messages("TabActivation"); }

  TabActivation activation{sim.accessibility(), walker};
};

TEST_F(TabActivate, PressesTheCardsOwnElement) {
  SimApp& app = chrome();
  SimWindow& window = openWindow(app, "Chrome");
  const BuiltStrip strip = BrowserTrees::chromium(sim, window.number, BrowserTrees::numberedTabs(4));
  const WindowCard card = tabCard(app, window, walk(window), 2);
  logs.clear();

  EXPECT_EQ(activate(card), TabPressOutcome::pressed());
  EXPECT_TRUE(isSelected(sim, strip.tabs[2]));
  EXPECT_FALSE(isSelected(sim, strip.tabs[0]));
  EXPECT_EQ(activationLog(), std::vector<std::string>{kTook});
  EXPECT_FLOAT_EQ(sim.messagingTimeout(strip.tabs[2]), 0.5f);
}

TEST_F(TabActivate, SaysWhatTheTabReportsAfterThePress) {
  SimApp& app = chrome();
  SimWindow& window = openWindow(app, "Chrome");
  const BuiltStrip strip = BrowserTrees::chromium(sim, window.number, BrowserTrees::numberedTabs(3));
  const TabWalker::Walk walked = walk(window);
  sim.setAction(strip.tabs[1], "AXPress", nullptr);  // accepts, but selects nothing yet
  sim.failAttribute(strip.tabs[2], "AXSelected", AXError::attributeUnsupported);
  sim.setAction(strip.tabs[2], "AXPress", nullptr);
  logs.clear();

  EXPECT_EQ(activate(tabCard(app, window, walked, 1)), TabPressOutcome::pressed());
  EXPECT_EQ(activate(tabCard(app, window, walked, 2)), TabPressOutcome::pressed());
  EXPECT_EQ(activationLog(), (std::vector<std::string>{kNotSelectedYet, kNotTold}));
}

TEST_F(TabActivate, FindsTheTabByTitleAfterTheStripWasRebuilt) {
  SimApp& app = safari();
  SimWindow& window = openWindow(app, "Safari");
  const BuiltStrip strip = BrowserTrees::safari(sim, window.number, BrowserTrees::numberedTabs(4));
  const WindowCard card = tabCard(app, window, walk(window), 3);

  // The page reloaded the strip: new elements, and one tab moved to the front.
  std::vector<BrowserTab> moved = BrowserTrees::numberedTabs(4);
  std::rotate(moved.begin(), moved.begin() + 3, moved.end());
  const BuiltStrip rebuilt = BrowserTrees::rebuild(sim, strip, moved);
  logs.clear();

  EXPECT_EQ(activate(card), TabPressOutcome::pressed());
  EXPECT_EQ(sim.actionCount(rebuilt.tabs[0], "AXPress"), 1);
  EXPECT_EQ(valueOf(sim, rebuilt.tabs[0]), 1);
  EXPECT_EQ(activationLog(), std::vector<std::string>{kNotTold}) << "this browser reports selection as a value";
}

TEST_F(TabActivate, AlikeTitlesFallBackToTheOrdinalOnlyWhileTheCountHolds) {
  SimApp& app = chrome();
  SimWindow& window = openWindow(app, "Chrome");
  std::vector<BrowserTab> tabs{{"New Tab"}, {"New Tab"}, {"New Tab"}};
  const BuiltStrip strip = BrowserTrees::chromium(sim, window.number, tabs);
  const WindowCard card = tabCard(app, window, walk(window), 1);

  const BuiltStrip sameCount = BrowserTrees::rebuild(sim, strip, tabs);
  EXPECT_EQ(activate(card), TabPressOutcome::pressed());
  EXPECT_EQ(sim.actionCount(sameCount.tabs[1], "AXPress"), 1);

  tabs.push_back({"New Tab"});
  const BuiltStrip longer = BrowserTrees::rebuild(sim, sameCount, tabs);
  logs.clear();
  EXPECT_EQ(activate(card), TabPressOutcome::nothingPressed());
  for (SimElementId tab : longer.tabs) EXPECT_EQ(sim.actionCount(tab, "AXPress"), 0);
  EXPECT_EQ(activationLog(), std::vector<std::string>{kNotFound});
}

TEST_F(TabActivate, ARefusedPressIsTriedOnceMoreOnAFreshWalk) {
  SimApp& app = firefox();
  SimWindow& window = openWindow(app, "Firefox");
  const BuiltStrip strip = BrowserTrees::firefox(sim, window.number, BrowserTrees::numberedTabs(3));
  const WindowCard card = tabCard(app, window, walk(window), 2);
  sim.refuseAction(strip.tabs[2], "AXPress", AXError::cannotComplete, 1);
  logs.clear();

  EXPECT_EQ(activate(card), TabPressOutcome::pressed());
  EXPECT_EQ(sim.actionCount(strip.tabs[2], "AXPress"), 2);
  EXPECT_TRUE(isSelected(sim, strip.tabs[2]));
  EXPECT_EQ(activationLog(), (std::vector<std::string>{withCode(kRefused, -25204), kTook}));
}

TEST_F(TabActivate, ABrowserTabRefusedTwiceKeepsTheSecondCodeAndSkipsTheMenu) {
  SimApp& app = chrome();
  SimWindow& window = openWindow(app, "Chrome");
  const BuiltStrip strip = BrowserTrees::chromium(sim, window.number, BrowserTrees::numberedTabs(3));
  const std::vector<SimElementId> menu = BrowserTrees::windowMenu(sim, app.pid, BrowserTrees::standardWindowMenu({"Tab 1"}));
  const WindowCard card = tabCard(app, window, walk(window), 0);
  sim.refuseAction(strip.tabs[0], "AXPress", AXError::cannotComplete, 1);
  sim.refuseAction(strip.tabs[0], "AXPress", AXError::failure, 1);
  logs.clear();

  EXPECT_EQ(activate(card), TabPressOutcome::refused(-25200));
  EXPECT_EQ(sim.actionCount(strip.tabs[0], "AXPress"), 2) << "exactly one retry";
  for (SimElementId item : menu) EXPECT_EQ(sim.actionCount(item, "AXPress"), 0);
  EXPECT_EQ(activationLog(),
            (std::vector<std::string>{withCode(kRefused, -25204), withCode(kRefused, -25200), kBothRefused}));
}

TEST_F(TabActivate, WithoutAnAdapterOrTabFactsNothingIsPressed) {
  SimApp& app = chrome();
  SimWindow& window = openWindow(app, "Chrome");
  BrowserTrees::chromium(sim, window.number, BrowserTrees::numberedTabs(2));
  WindowCard card = tabCard(app, window, walk(window), 0);
  logs.clear();

  WindowCard plain = card;
  plain.tab.reset();
  EXPECT_EQ(activate(plain), TabPressOutcome::nothingPressed());
  EXPECT_TRUE(activationLog().empty());

  card.bundleID = "com.example.notabrowser";
  EXPECT_EQ(activate(card), TabPressOutcome::nothingPressed());
  card.bundleID.reset();
  EXPECT_EQ(activate(card), TabPressOutcome::nothingPressed());
  EXPECT_EQ(activationLog(), (std::vector<std::string>{kNoAdapter, kNoAdapter}));
}

// ---- Applications whose tabs are windows ----

class TabbedWindowActivate : public TabActivate {
 protected:
  void SetUp() override {
    app = &finder();
    front = &openWindow(*app, "Downloads", {200, 150, 900, 600});
    strip = BrowserTrees::tabbedWindows(sim, front->number, {{"Documents"}, {"Downloads", {}, true}, {"Music"}});
    walked = walk(*front);
  }
  SimApp* app = nullptr;
  SimWindow* front = nullptr;
  BuiltStrip strip;
  TabWalker::Walk walked;
};

TEST_F(TabbedWindowActivate, ATabThatWillNotAnswerIsSwitchedToThroughTheWindowMenu) {
  const WindowCard card = tabCard(*app, *front, walked, 2);
  sim.refuseAction(strip.tabs[2], "AXPress", AXError::cannotComplete, -1);
  // The last section lists the tabbed windows; its titles differ from the tabs' ("Music — Finder").
  const std::vector<SimElementId> items = BrowserTrees::windowMenu(
      sim, app->pid, BrowserTrees::standardWindowMenu({"Documents — Finder", "Downloads — Finder", "Music — Finder"}));
  logs.clear();

  EXPECT_EQ(activate(card), TabPressOutcome::pressed());
  EXPECT_EQ(sim.actionCount(items.back(), "AXPress"), 1);
  EXPECT_EQ(activationLog(), (std::vector<std::string>{withCode(kRefused, -25204), withCode(kRefused, -25204), kMenuPressed}));
}

TEST_F(TabbedWindowActivate, AStripThatIsGoneIsReachedByAUniqueMenuTitle) {
  const WindowCard card = tabCard(*app, *front, walked, 0);
  sim.removeElement(strip.container);
  // No separator at all: only the title can match.
  const std::vector<SimElementId> items =
      BrowserTrees::windowMenu(sim, app->pid, {std::string("Minimize"), std::string("Documents"), std::string("Music")});
  logs.clear();

  EXPECT_EQ(activate(card), TabPressOutcome::pressed());
  EXPECT_EQ(sim.actionCount(items[1], "AXPress"), 1);
  EXPECT_EQ(activationLog(), std::vector<std::string>{kMenuPressed});
}

TEST_F(TabbedWindowActivate, AMenuWithNothingToMatchPressesNothing) {
  const WindowCard card = tabCard(*app, *front, walked, 0);
  sim.removeElement(strip.container);
  // Titles alike and no separator: neither the title nor the last section can tell.
  const std::vector<SimElementId> items = BrowserTrees::windowMenu(
      sim, app->pid, {std::string("Documents"), std::string("Documents"), std::string("Documents")});
  logs.clear();

  EXPECT_EQ(activate(card), TabPressOutcome::nothingPressed());
  for (SimElementId item : items) EXPECT_EQ(sim.actionCount(item, "AXPress"), 0);
  EXPECT_EQ(activationLog(), (std::vector<std::string>{kMenuNoMatch, kNotFound}));

  // No menu bar at all: nothing to log for the menu.
  SimApp& terminal = launch(300, "com.apple.Terminal", "Terminal");
  SimWindow& shell = openWindow(terminal, "zsh");
  BrowserTrees::tabbedWindows(sim, shell.number, {{"zsh", {}, true}});
  WindowCard orphan = tabCard(terminal, shell, walk(shell), 0);
  orphan.title = "gone";
  orphan.tab->element.reset();
  orphan.tab->stripCount = 5;
  logs.clear();
  EXPECT_EQ(activate(orphan), TabPressOutcome::nothingPressed());
  EXPECT_EQ(activationLog(), std::vector<std::string>{kNotFound});
}

TEST_F(TabbedWindowActivate, ARefusedMenuItemLeavesTheTabsRefusalStanding) {
  const WindowCard card = tabCard(*app, *front, walked, 1);
  sim.refuseAction(strip.tabs[1], "AXPress", AXError::cannotComplete, -1);
  const std::vector<SimElementId> items = BrowserTrees::windowMenu(sim, app->pid, {std::string("Downloads")});
  sim.refuseAction(items[0], "AXPress", AXError::failure, 1);
  logs.clear();

  EXPECT_EQ(activate(card), TabPressOutcome::refused(-25204));
  EXPECT_EQ(activationLog(), (std::vector<std::string>{withCode(kRefused, -25204), withCode(kRefused, -25204),
                                                       withCode(kMenuRefused, -25200), kBothRefused}));
}

TEST_F(TabbedWindowActivate, TheMainWindowIsACandidateWhenItHasTheCardsFrame) {
  // The card's own window lost its strip; the application's main window, at the same frame, has it.
  SimWindow& sibling = openWindow(*app, "Music", {200.4, 150.9, 900, 600});
  const BuiltStrip moved =
      BrowserTrees::tabbedWindows(sim, sibling.number, {{"Documents"}, {"Downloads"}, {"Music", {}, true}});
  WindowCard card = tabCard(*app, *front, walked, 0);
  sim.removeElement(strip.container);
  sim.focusWindow(sibling.number);

  const std::vector<AXHandleRef> candidates = axJob([&] {
    return activation.hostCandidates(*card.tabTarget(), *TabAdapter::find("com.apple.finder"));
  });
  ASSERT_EQ(candidates.size(), 2u);
  EXPECT_EQ(sim.idOf(candidates[1]->element()), sibling.element());

  EXPECT_EQ(activate(card), TabPressOutcome::pressed());
  EXPECT_EQ(valueOf(sim, moved.tabs[0]), 1);
  const AXHandleRef main = axJob([&] { return activation.mainWindow(*card.tabTarget()); });
  ASSERT_TRUE(main);
  EXPECT_EQ(sim.idOf(main->element()), sibling.element());

  // A main window elsewhere on screen is not the tab's window.
  sim.setWindowFrame(sibling.number, {500, 150, 900, 600});
  EXPECT_FALSE(axJob([&] { return activation.mainWindow(*card.tabTarget()); }));
  EXPECT_EQ(axJob([&] { return activation.hostCandidates(*card.tabTarget(), *TabAdapter::find("com.apple.finder")); }).size(), 1u);
}

TEST_F(TabbedWindowActivate, MainWindowIsOnlyForApplicationsWhoseTabsAreWindows) {
  SimApp& browser = chrome();
  SimWindow& window = openWindow(browser, "Chrome");
  BrowserTrees::chromium(sim, window.number, BrowserTrees::numberedTabs(2));
  sim.focusWindow(window.number);
  const WindowCard card = tabCard(browser, window, walk(window), 0);
  EXPECT_FALSE(axJob([&] { return activation.mainWindow(*card.tabTarget()); }));
  EXPECT_EQ(axJob([&] { return activation.hostCandidates(*card.tabTarget(), *TabAdapter::find("com.google.chrome")); }).size(), 1u);
}

// ---- Matching a "Window" menu item ----

TEST(TabMenuIndex, UniqueTitleFirstThenTheOrdinalInTheLastSection) {
  TabTarget target;
  target.title = "Music";
  target.ordinal = 1;
  target.stripCount = 3;
  using Titles = std::vector<std::optional<std::string>>;
  const Titles menu{std::string("Minimize"), std::nullopt, std::string("A"), std::string("Music"), std::string("C")};

  EXPECT_EQ(TabActivation::menuIndex(menu, target), 3u);
  EXPECT_EQ(TabActivation::menuIndex({}, target), std::nullopt);

  target.title = "";
  EXPECT_EQ(TabActivation::menuIndex(menu, target), 3u) << "ordinal 1 of the section after the separator";
  target.title = "A";
  EXPECT_EQ(TabActivation::menuIndex(Titles{std::string("A"), std::string(""), std::string("A"), std::string("B"),
                                            std::string("C")},
                                      target),
            3u)
      << "a title listed twice falls back to the section";
  target.title = "";
  target.stripCount = 4;
  EXPECT_EQ(TabActivation::menuIndex(menu, target), std::nullopt) << "the section no longer matches the strip";
  target.stripCount = 3;
  target.ordinal = 3;
  EXPECT_EQ(TabActivation::menuIndex(menu, target), std::nullopt);
  target.ordinal = 1;
  const Titles untitled{std::string("Minimize"), std::string(""), std::string("A"), std::nullopt, std::string("C")};
  EXPECT_EQ(TabActivation::menuIndex(untitled, target), std::nullopt) << "the last separator leaves one item";
}

}  // namespace
}  // namespace quorvel
