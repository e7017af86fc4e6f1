#include <gtest/gtest.h>

#include "tabs/TabFixture.h"
#include "tabs/TabWalker.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;

// ---- Memory annotations ----

TEST(TabTitleMemoryFigure, ANumberWithOneSeparatorAndAUnit) {
  for (const char* figure : {"150 MB", "85.3 MB", "1,5 GB", "12  kb", "7 Gb", "\xD9\xA1\xD9\xA2 MB" /* Arabic-Indic 12 */}) {
    EXPECT_TRUE(TabWalker::isMemoryFigure(figure)) << figure;
  }
  for (const char* other : {"1,234.5 MB", "12 TB", "MB 12", "12MB", "GB", ". MB", "12 MB extra", "", "1.5.0 kb",
                            "12a MB"}) {
    EXPECT_FALSE(TabWalker::isMemoryFigure(other)) << other;
  }
}

TEST(TabTitleMemoryAnnotation, CutsOnlyALabelledFigure) {
  EXPECT_EQ(TabWalker::stripMemoryAnnotation("Mail - Memory usage - 1,5 GB"), "Mail");
  EXPECT_EQ(TabWalker::stripMemoryAnnotation("News - Memory usage - 150 MB"), "News");
  EXPECT_EQ(TabWalker::stripMemoryAnnotation("Docs - Draft - Speicherverbrauch - 85.3 MB"), "Docs - Draft");
  // The figure alone, a figure that is not one, and parts that are empty stay.
  EXPECT_EQ(TabWalker::stripMemoryAnnotation("Mail - Memory usage - 1,234.5 GB"), "Mail - Memory usage - 1,234.5 GB");
  EXPECT_EQ(TabWalker::stripMemoryAnnotation("News - 150 MB"), "News - 150 MB");
  EXPECT_EQ(TabWalker::stripMemoryAnnotation(" - Memory usage - 150 MB"), " - Memory usage - 150 MB");
  EXPECT_EQ(TabWalker::stripMemoryAnnotation("Mail -  - 150 MB"), "Mail -  - 150 MB");
  EXPECT_EQ(TabWalker::stripMemoryAnnotation("Plain title"), "Plain title");
  EXPECT_EQ(TabWalker::stripMemoryAnnotation(""), "");
}

TEST(TabTitleMemoryAnnotation, TheLabelIsMeasuredInPerceivedCharacters) {
  // Forty family emoji are 40 characters to the reader but hundreds of bytes and code points.
  std::string family;
  for (int i = 0; i < 40; ++i) family += "\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7\xE2\x80\x8D\xF0\x9F\x91\xA6";
  EXPECT_EQ(TabWalker::stripMemoryAnnotation("Photos - " + family + " - 20 MB"), "Photos");
  EXPECT_EQ(TabWalker::stripMemoryAnnotation("Photos - " + family + "x - 20 MB"), "Photos - " + family + "x - 20 MB");
  const std::string forty(40, 'a');
  EXPECT_EQ(TabWalker::stripMemoryAnnotation("Page - " + forty + " - 1 GB"), "Page");
  EXPECT_EQ(TabWalker::stripMemoryAnnotation("Page - " + forty + "a - 1 GB"), "Page - " + forty + "a - 1 GB");
}

// ---- Walks over real-looking strips ----

class TabWalk : public TabFixture {};

TEST_F(TabWalk, ChromiumStripGivesTitlesSelectionAndFrames) {
  SimApp& app = chrome();
  SimWindow& window = openWindow(app, "Inbox");
  std::vector<BrowserTab> tabs = BrowserTrees::numberedTabs(5, "Page ", 2);
  tabs[0].title = "Mail - Memory usage - 1,5 GB";
  tabs[4].title = "";
  tabs[4].description = "Downloads";
  const BuiltStrip strip = BrowserTrees::chromium(sim, window.number, tabs);

  const TabWalker::Walk plain = walk(window);
  EXPECT_EQ(titles(plain), (std::vector<std::string>{"Mail", "Page 2", "Page 3", "Page 4", "Downloads"}));
  ASSERT_EQ(plain.tabs.size(), 5u);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(plain.tabs[i].ordinal, i);
    EXPECT_EQ(plain.tabs[i].isSelected, i == 2);
    EXPECT_EQ(sim.idOf(plain.tabs[i].element->element()), strip.tabs[i]);
    EXPECT_FALSE(plain.tabs[i].frame || plain.tabs[i].faviconFrame);
  }
  EXPECT_EQ(plain.dropped, 0);
  EXPECT_TRUE(plain.mayCache);
  EXPECT_FALSE(plain.hostFrame || plain.accessibleTitle);
  EXPECT_FLOAT_EQ(sim.messagingTimeout(window.element()), 0.5f);

  const TabWalker::Walk framed = walk(window, true, true);
  EXPECT_EQ(framed.hostFrame, (Rect{100, 100, 1200, 800}));
  EXPECT_EQ(framed.accessibleTitle, "Inbox");
  ASSERT_EQ(framed.tabs.size(), 5u);
  EXPECT_EQ(framed.tabs[1].frame, BrowserTrees::tabFrame({100, 100, 1200, 800}, 1, 5));
  EXPECT_FALSE(framed.tabs[1].faviconFrame) << "Chromium tabs have no icon element of their own";
}

TEST_F(TabWalk, FirefoxStripIsReadFromItsTabListAndKeepsTitlesWhole) {
  SimApp& app = firefox();
  SimWindow& window = openWindow(app, "Firefox");
  std::vector<BrowserTab> tabs = BrowserTrees::numberedTabs(3, "Fox ", 0);
  tabs[1].title = "Heavy - Memory usage - 150 MB";
  tabs[2].title = "";
  tabs[2].description = "Only described";
  BrowserTrees::firefox(sim, window.number, tabs);

  const TabWalker::Walk walked = walk(window);
  // The new-tab and list-all-tabs buttons beside the strip are not tabs; the description is not a
  // title this browser uses.
  EXPECT_EQ(titles(walked), (std::vector<std::string>{"Fox 1", "Heavy - Memory usage - 150 MB", ""}));
  EXPECT_TRUE(walked.tabs[0].isSelected);
}

TEST_F(TabWalk, AnEmptyFirstRouteFallsBackToTheSecond) {
  SimApp& app = firefox();
  SimWindow& window = openWindow(app, "Firefox");
  const BuiltStrip strip = BrowserTrees::firefox(sim, window.number, BrowserTrees::numberedTabs(3));
  sim.setAttribute(strip.container, "AXTabs", AXValue(AXValue::Elements{}));

  const TabWalker::Walk walked = walk(window);
  EXPECT_EQ(walked.tabs.size(), 5u) << "the container's children: three tabs and two buttons";
}

TEST_F(TabWalk, SafariTabBarIsFoundByItsIdentifierWithIconFrames) {
  SimApp& app = safari();
  SimWindow& window = openWindow(app, "Safari");
  std::vector<BrowserTab> tabs = BrowserTrees::numberedTabs(4, "Site ", 1);
  tabs[3].title = "";
  tabs[3].description = "Start Page";
  const BuiltStrip strip = BrowserTrees::safari(sim, window.number, tabs);

  const TabWalker::Walk walked = walk(window, false, true);
  EXPECT_EQ(titles(walked), (std::vector<std::string>{"Site 1", "Site 2", "Site 3", "Start Page"}));
  ASSERT_EQ(walked.tabs.size(), 4u);
  EXPECT_TRUE(walked.tabs[1].isSelected) << "selection given as the number 1";
  EXPECT_FALSE(walked.tabs[0].isSelected);
  const Rect tab = BrowserTrees::tabFrame({100, 100, 1200, 800}, 2, 4);
  EXPECT_EQ(walked.tabs[2].frame, tab);
  EXPECT_EQ(walked.tabs[2].faviconFrame, (Rect{tab.x + 8, tab.y + tab.height / 2 - 8, 16, 16}));

  // An icon whose frame cannot be read leaves the tab without one.
  sim.failAttribute(strip.favicons[0], "AXSize", AXError::cannotComplete);
  EXPECT_FALSE(walk(window, false, true).tabs[0].faviconFrame);
}

TEST_F(TabWalk, TabbedWindowStripKeepsOnlyTabButtons) {
  SimApp& app = finder();
  SimWindow& window = openWindow(app, "Documents");
  BrowserTrees::tabbedWindows(sim, window.number, BrowserTrees::numberedTabs(3, "Folder ", 2));

  const TabWalker::Walk walked = walk(window, false, true);
  EXPECT_EQ(titles(walked), (std::vector<std::string>{"Folder 1", "Folder 2", "Folder 3"}));
  EXPECT_TRUE(walked.tabs[2].isSelected);
  EXPECT_FALSE(walked.tabs[0].frame) << "tab frames are read only for applications with site icons";
}

TEST_F(TabWalk, SelectionMustBeABooleanOrANumber) {
  SimApp& app = chrome();
  SimWindow& window = openWindow(app, "Chrome");
  const BuiltStrip strip = BrowserTrees::chromium(sim, window.number, BrowserTrees::numberedTabs(4, "T", 99));
  sim.setAttribute(strip.tabs[0], "AXSelected", AXValue(int64_t{1}));
  sim.setAttribute(strip.tabs[1], "AXSelected", AXValue(std::string("1")));
  sim.setAttribute(strip.tabs[2], "AXSelected", AXValue(0.5));
  sim.failAttribute(strip.tabs[3], "AXSelected", AXError::cannotComplete);

  const TabWalker::Walk walked = walk(window);
  ASSERT_EQ(walked.tabs.size(), 4u);
  EXPECT_TRUE(walked.tabs[0].isSelected);
  EXPECT_FALSE(walked.tabs[1].isSelected);
  EXPECT_TRUE(walked.tabs[2].isSelected);
  EXPECT_FALSE(walked.tabs[3].isSelected);
}

TEST_F(TabWalk, KeepsTheFirstTwoHundredTabsAndCountsTheRest) {
  SimApp& app = chrome();
  SimWindow& window = openWindow(app, "Hoarder");
  BrowserTrees::chromium(sim, window.number, BrowserTrees::numberedTabs(250, "Tab ", 249));

  const TabWalker::Walk walked = walk(window);
  ASSERT_EQ(walked.tabs.size(), 200u);
  EXPECT_EQ(walked.dropped, 50);
  EXPECT_EQ(walked.tabs.front().title, "Tab 1");
  EXPECT_EQ(walked.tabs.back().title, "Tab 200");
  EXPECT_EQ(walked.tabs.back().ordinal, 199);
  for (const TabRecord& tab : walked.tabs) EXPECT_FALSE(tab.isSelected);
}

TEST_F(TabWalk, ContainerSearchStopsSevenLevelsBelowTheWindow) {
  SimApp& app = chrome();
  SimWindow& reachable = openWindow(app, "Seven");
  SimWindow& tooDeep = openWindow(app, "Eight");
  BrowserTrees::chromiumNested(sim, reachable.number, 6, BrowserTrees::numberedTabs(2));
  BrowserTrees::chromiumNested(sim, tooDeep.number, 7, BrowserTrees::numberedTabs(2));

  EXPECT_EQ(walk(reachable).tabs.size(), 2u);
  const TabWalker::Walk missed = walk(tooDeep);
  EXPECT_TRUE(missed.tabs.empty());
  EXPECT_EQ(missed.dropped, 0);
}

TEST_F(TabWalk, ContainerSearchExaminesAtMostSixHundredElements) {
  SimApp& app = chrome();
  SimWindow& within = openWindow(app, "Within");
  SimWindow& beyond = openWindow(app, "Beyond");
  // The window is the first element examined, then the clutter, then the strip.
  BrowserTrees::addClutter(sim, within.number, 598);
  BrowserTrees::chromiumNested(sim, within.number, 0, BrowserTrees::numberedTabs(3));
  BrowserTrees::addClutter(sim, beyond.number, 599);
  BrowserTrees::chromiumNested(sim, beyond.number, 0, BrowserTrees::numberedTabs(3));

  EXPECT_EQ(walk(within).tabs.size(), 3u);
  EXPECT_TRUE(walk(beyond).tabs.empty());
}

TEST_F(TabWalk, AWindowWithoutAStripOrAnAnswerGivesNoTabs) {
  SimApp& app = safari();
  SimWindow& bare = openWindow(app, "Bare");
  SimWindow& hung = openWindow(app, "Hung");
  BrowserTrees::safari(sim, hung.number, BrowserTrees::numberedTabs(3));

  const TabWalker::Walk none = walk(bare, true, true);
  EXPECT_TRUE(none.tabs.empty());
  EXPECT_TRUE(none.mayCache);
  EXPECT_EQ(none.accessibleTitle, "Bare");

  sim.setUnresponsive(app.pid);
  const Instant before = loop.clock().now();
  const TabWalker::Walk silent = walk(hung, true, true);
  EXPECT_TRUE(silent.tabs.empty());
  EXPECT_FALSE(silent.hostFrame || silent.accessibleTitle);
  // Every call waits out the half-second time-out set on the window, never the long default.
  EXPECT_LE(loop.clock().now() - before, 5s);
}

TEST_F(TabWalk, AStripThatAppearsOnlyAfterANudge) {
  SimApp& app = chrome();
  SimWindow& window = openWindow(app, "Shy");
  auto strip = BrowserTrees::chromiumAfterNudge(sim, window.number, BrowserTrees::numberedTabs(3), true);

  // The nudge switches the tree on; the strip is there at once but its titles are still missing.
  const TabWalker::Walk first = walk(window);
  EXPECT_EQ(first.tabs.size(), 3u);
  EXPECT_FALSE(first.mayCache);

  for (size_t i = 0; i < strip->tabs.size(); ++i) {
    sim.setAttribute(strip->tabs[i], "AXTitle", AXValue("Loaded " + std::to_string(i)));
  }
  loop.advance(1s);
  const TabWalker::Walk titled = walk(window);
  EXPECT_TRUE(titled.mayCache) << "fresh, but with titles";

  // Asked for the window title too, an empty one keeps a fresh answer out of caches.
  sim.setWindowTitle(window.number, std::string());
  EXPECT_FALSE(walk(window, true).mayCache);
  loop.advance(5s);
  EXPECT_TRUE(walk(window, true).mayCache) << "settled";
}

TEST_F(TabWalk, WindowTitlesAreReadWithTheirOwnTimeOut) {
  SimApp& app = chrome();
  SimWindow& one = openWindow(app, "One");
  SimWindow& two = openWindow(app, "");
  SimWindow& three = openWindow(app, "Three");

  std::vector<std::pair<uint32_t, AXHandleRef>> windows{
      {one.number, handle(one)}, {two.number, handle(two)}, {three.number, handle(three)}, {7, handle(one)}};
  const TabWalker::WindowTitles read = axJob([&] { return walker.readWindowTitles(windows, app.pid, true); });
  EXPECT_EQ(read.titles, (std::unordered_map<uint32_t, std::string>{{one.number, "One"}, {three.number, "Three"}, {7, "One"}}));
  EXPECT_TRUE(read.mayCache);
  EXPECT_FLOAT_EQ(sim.messagingTimeout(three.element()), 0.5f);

  // Right after a nudge, an answer without any title is not kept.
  SimApp& other = firefox();
  SimWindow& blank = openWindow(other, "");
  const TabWalker::WindowTitles fresh =
      axJob([&] { return walker.readWindowTitles({{blank.number, handle(blank)}}, other.pid, true); });
  EXPECT_TRUE(fresh.titles.empty());
  EXPECT_FALSE(fresh.mayCache);

  // Nothing to read: nothing is done, not even the nudge.
  SimApp& third = safari();
  const TabWalker::WindowTitles empty = axJob([&] { return walker.readWindowTitles({}, third.pid, true); });
  EXPECT_TRUE(empty.mayCache);
  EXPECT_EQ(nudges.nudgedAt().count(third.pid), 0u);
}

}  // namespace
}  // namespace quorvel
