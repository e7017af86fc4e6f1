#include <gtest/gtest.h>

#include "platform/sim/SimElement.h"
#include "tabs/TabFixture.h"
#include "tabs/TabIdentityStore.h"

namespace quorvel {
namespace {

constexpr uint32_t kFirst = 0xC0000001u;

// A walked tab whose element is simulated element `element` (new wrapper objects every time, as
// every walk makes them).
TabRecord record(uint64_t element, std::string title, int ordinal = 0) {
  TabRecord tab;
  tab.element = AXHandle::make(std::make_shared<SimElement>(static_cast<SimElementId>(element), 100));
  tab.title = std::move(title);
  tab.ordinal = ordinal;
  return tab;
}

std::vector<TabRecord> records(std::initializer_list<std::pair<uint64_t, const char*>> tabs) {
  std::vector<TabRecord> out;
  for (const auto& [element, title] : tabs) out.push_back(record(element, title, static_cast<int>(out.size())));
  return out;
}

// ---- Identities across real walks ----

class TabIdentities : public TabFixture {
 protected:
  std::vector<uint32_t> assign(const SimWindow& window) {
    return store.assign(walk(window).tabs, window.number, window.pid);
  }
  TabIdentityStore store;
};

TEST_F(TabIdentities, FirstWalkHandsOutConsecutiveIdsWithBothTopBits) {
  SimApp& app = chrome();
  SimWindow& window = openWindow(app, "Chrome");
  BrowserTrees::chromium(sim, window.number, BrowserTrees::numberedTabs(3));
  EXPECT_EQ(assign(window), (std::vector<uint32_t>{kFirst, kFirst + 1, kFirst + 2}));
  for (uint32_t id : assign(window)) EXPECT_TRUE(WindowCard::isTabID(id));
}

TEST_F(TabIdentities, SameElementsKeepTheirIdsWhileTitlesChange) {
  SimApp& app = chrome();
  SimWindow& window = openWindow(app, "Chrome");
  const BuiltStrip strip = BrowserTrees::chromium(sim, window.number, BrowserTrees::numberedTabs(3));
  const std::vector<uint32_t> before = assign(window);
  sim.setAttribute(strip.tabs[0], "AXTitle", AXValue("Loading…"));
  sim.setAttribute(strip.tabs[1], "AXTitle", AXValue("Tab 3"));  // takes another tab's old title
  sim.setAttribute(strip.tabs[2], "AXTitle", AXValue(""));
  EXPECT_EQ(assign(window), before);
}

TEST_F(TabIdentities, ARebuiltStripIsFollowedByUniqueTitles) {
  SimApp& app = safari();
  SimWindow& window = openWindow(app, "Safari");
  const BuiltStrip strip = BrowserTrees::safari(sim, window.number, BrowserTrees::numberedTabs(4));
  const std::vector<uint32_t> before = assign(window);

  // New elements, the strip reordered and one tab closed.
  std::vector<BrowserTab> reordered = BrowserTrees::numberedTabs(4);
  std::swap(reordered[0], reordered[2]);
  reordered.pop_back();
  BrowserTrees::rebuild(sim, strip, reordered);
  EXPECT_EQ(assign(window), (std::vector<uint32_t>{before[2], before[1], before[0]}));
}

TEST_F(TabIdentities, DuplicateTitlesFallBackToPositionOnlyWhenTheCountHolds) {
  SimApp& app = firefox();
  SimWindow& window = openWindow(app, "Firefox");
  std::vector<BrowserTab> tabs{{"New Tab"}, {"Mail"}, {"New Tab"}};
  const BuiltStrip strip = BrowserTrees::firefox(sim, window.number, tabs);
  const std::vector<uint32_t> before = assign(window);

  const BuiltStrip rebuilt = BrowserTrees::rebuild(sim, strip, tabs);
  EXPECT_EQ(assign(window), before) << "same count: the alike titles keep the ids of their positions";

  tabs.push_back({"New Tab"});
  BrowserTrees::rebuild(sim, rebuilt, tabs);
  const std::vector<uint32_t> after = assign(window);
  ASSERT_EQ(after.size(), 4u);
  EXPECT_EQ(after[1], before[1]) << "the unique title still matches";
  for (size_t k : {0u, 2u, 3u}) EXPECT_GT(after[k], before.back()) << "alike titles, new count: new ids";
}

TEST_F(TabIdentities, AWindowNumberOfAnotherProcessStartsAfresh) {
  SimApp& app = chrome();
  SimWindow& window = openWindow(app, "Chrome");
  BrowserTrees::chromium(sim, window.number, BrowserTrees::numberedTabs(2));
  const std::vector<TabRecord> walked = walk(window).tabs;
  const std::vector<uint32_t> before = store.assign(walked, window.number, app.pid);

  // The browser relaunched and the window server handed the same number to its new window.
  const std::vector<uint32_t> relaunched = store.assign(walked, window.number, app.pid + 1);
  EXPECT_EQ(relaunched, (std::vector<uint32_t>{kFirst + 2, kFirst + 3}));
  EXPECT_EQ(store.hosts().at(window.number).pid, app.pid + 1);
  EXPECT_NE(relaunched, before);
}

TEST_F(TabIdentities, TwoHundredTabsOfARebuiltStripKeepTheirIds) {
  SimApp& app = chrome();
  SimWindow& window = openWindow(app, "Hoarder");
  const BuiltStrip strip = BrowserTrees::chromium(sim, window.number, BrowserTrees::numberedTabs(230));
  const std::vector<uint32_t> before = assign(window);
  ASSERT_EQ(before.size(), 200u);
  BrowserTrees::rebuild(sim, strip, BrowserTrees::numberedTabs(230));
  EXPECT_EQ(assign(window), before);
}

// ---- Matching rules on their own ----

TEST(TabIdentityMatching, OneElementWalkedTwiceTakesOneRememberedEntry) {
  TabIdentityStore store;
  const auto first = store.assign(records({{1, "A"}, {2, "B"}}), 10, 100);
  const auto second = store.assign(records({{1, "A"}, {1, "A"}, {3, "C"}}), 10, 100);
  EXPECT_EQ(second[0], first[0]);
  EXPECT_EQ(second[1], kFirst + 2) << "the element's one entry is taken; the title is taken with it";
  EXPECT_EQ(second[2], kFirst + 3);
}

TEST(TabIdentityMatching, AnEmptyTitleOnANewElementIsNoEvidence) {
  TabIdentityStore store;
  const auto first = store.assign(records({{1, ""}, {2, "B"}}), 10, 100);
  const auto second = store.assign(records({{5, ""}, {2, "B"}, {6, "C"}}), 10, 100);
  EXPECT_EQ(second[1], first[1]);
  EXPECT_EQ(second[0], kFirst + 2);
  EXPECT_EQ(second[2], kFirst + 3);
}

TEST(TabIdentityMatching, PositionsAreUsedOnlyWhereStillUntaken) {
  TabIdentityStore store;
  const auto first = store.assign(records({{1, "A"}, {2, "B"}, {3, "C"}}), 10, 100);
  // Tab 0 is new and titled like nothing; "A" moved to position 2 on a new element.
  const auto second = store.assign(records({{7, "X"}, {2, "B"}, {8, "A"}}), 10, 100);
  EXPECT_EQ(second[2], first[0]) << "by title";
  EXPECT_EQ(second[1], first[1]) << "by element";
  EXPECT_EQ(second[0], kFirst + 3) << "position 0 was already taken by the title match";
}

TEST(TabIdentityMatching, WindowsAreRememberedApart) {
  TabIdentityStore store;
  store.assign(records({{1, "A"}}), 10, 100);
  const auto other = store.assign(records({{1, "A"}}), 11, 100);
  EXPECT_EQ(other, std::vector<uint32_t>{kFirst + 1});
  EXPECT_EQ(store.assign({}, 10, 100), std::vector<uint32_t>{});
  EXPECT_TRUE(store.hosts().at(10).tabs.empty()) << "tabs that closed drop out";
}

// ---- Use ticks and forgetting ----

TEST(TabIdentityUses, TheTableIsCutToTheMostRecentQuarterThousand) {
  TabIdentityStore store;
  for (uint32_t i = 1; i <= 512; ++i) store.touch(kFirst + i);
  EXPECT_EQ(store.lastUsed().size(), 512u);
  store.touch(kFirst + 3);  // an id already there: no growth
  EXPECT_EQ(store.lastUsed().size(), 512u);
  store.touch(kFirst + 1000);  // the 513th distinct id
  ASSERT_EQ(store.lastUsed().size(), 256u);
  EXPECT_EQ(store.lastUsed().at(kFirst + 1000), 514);
  EXPECT_EQ(store.lastUsed().at(kFirst + 3), 513);
  EXPECT_TRUE(store.lastUsed().contains(kFirst + 512));
  EXPECT_TRUE(store.lastUsed().contains(kFirst + 259));
  EXPECT_FALSE(store.lastUsed().contains(kFirst + 258));
}

TEST(TabIdentityUses, ForgettingDropsHostsAndTheTicksOfTheirTabs) {
  TabIdentityStore store;
  const auto kept = store.assign(records({{1, "A"}, {2, "B"}}), 10, 100);
  const auto gone = store.assign(records({{3, "C"}}), 11, 100);
  const auto otherPid = store.assign(records({{4, "D"}}), 12, 101);
  store.touch(kept[0]);
  store.touch(gone[0]);
  store.touch(otherPid[0]);
  store.touch(0xC0FFEEu);  // an id that no host holds

  store.forgetHost({10, 12}, {100});
  EXPECT_EQ(store.hosts().size(), 1u) << "window 12 belongs to a process the pass no longer shows";
  EXPECT_EQ(store.lastUsed().size(), 1u);
  EXPECT_TRUE(store.lastUsed().contains(kept[0]));

  // A pass without tabs forgets everything; once empty, forgetting leaves the ticks alone.
  store.forgetHost({}, {});
  EXPECT_TRUE(store.hosts().empty());
  EXPECT_TRUE(store.lastUsed().empty());
  store.touch(kept[1]);
  store.forgetHost({}, {});
  EXPECT_EQ(store.lastUsed().size(), 1u);
}

TEST(TabIdentityUses, IdsAreNeverReusedAfterAHostIsForgotten) {
  TabIdentityStore store;
  const auto first = store.assign(records({{1, "A"}}), 10, 100);
  store.forgetHost({}, {});
  const auto again = store.assign(records({{1, "A"}}), 10, 100);
  EXPECT_NE(again, first);
  EXPECT_EQ(store.counter(), 2u);
}

}  // namespace
}  // namespace quorvel
