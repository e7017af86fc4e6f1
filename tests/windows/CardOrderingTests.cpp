#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "settings/AppSettings.h"
#include "windows/CardOrdering.h"

namespace quorvel {
namespace {

using Order = AppSettings::WindowOrder;
using Display = AppSettings::CategoryDisplay;

WindowCard card(uint32_t id, WindowState state, std::string app = "App", std::string title = "",
                int32_t pid = 10, std::optional<int> space = std::nullopt) {
  WindowCard c;
  c.id = id;
  c.orderingID = id;
  c.state = state;
  c.appName = std::move(app);
  c.title = std::move(title);
  c.pid = pid;
  c.spaceNumber = space;
  return c;
}

WindowCard tab(uint32_t id, uint32_t host, bool selected = false) {
  WindowCard c = card(id, WindowState::browserTab);
  c.tab = WindowCard::TabFacts{};
  c.tab->hostWindowID = host;
  c.tab->isSelected = selected;
  return c;
}

std::vector<uint32_t> ids(const std::vector<WindowCard>& cards) {
  std::vector<uint32_t> out;
  for (const auto& c : cards) out.push_back(c.id);
  return out;
}

using Ids = std::vector<uint32_t>;

TEST(CardOrdering, EmptyAndSingleListsPassThroughEveryStep) {
  std::vector<WindowCard> none;
  for (Order order : AppSettings::allCases<Order>()) {
    CardOrdering::sortCards(none, order, {}, CardOrdering::kNoRank, {}, true);
  }
  EXPECT_TRUE(none.empty());
  EXPECT_TRUE(CardOrdering::gatherAppRuns({}, true, Order::bySpace).empty());
  EXPECT_TRUE(CardOrdering::moveCategoriesToEnd({}, 0x01010101).empty());
  EXPECT_TRUE(CardOrdering::expandingTabCards({}, {{5, {tab(0xC0000001, 5)}}}, nullptr).empty());
  EXPECT_EQ(CardOrdering::currentWindow({}, {{1, 0}}, std::nullopt), std::nullopt);

  std::vector<WindowCard> one = {card(7, WindowState::minimized)};
  for (Order order : AppSettings::allCases<Order>()) {
    CardOrdering::sortCards(one, order, {{9, 0}}, CardOrdering::kNoRank, {{7, 3}}, true);
    EXPECT_EQ(ids(one), Ids{7});
  }
  EXPECT_EQ(ids(CardOrdering::moveCategoriesToEnd(one, 0x01010101)), Ids{7});
  EXPECT_EQ(ids(CardOrdering::gatherAppRuns(one, true, Order::recent)), Ids{7});
}

TEST(CardOrdering, RecentWithoutVisitsGoesByStateThenZOrderThenName) {
  std::vector<WindowCard> cards = {
      card(0x80000002, WindowState::windowlessApp, "zed"),
      card(40, WindowState::minimized),
      card(31, WindowState::onCurrentSpace),  // not in the z-order: after those that are
      card(30, WindowState::onCurrentSpace),
      card(0x80000001, WindowState::windowlessApp, "Alpha"),
      card(20, WindowState::onOtherSpace),
      card(12, WindowState::onCurrentSpace),
      card(11, WindowState::onCurrentSpace),
      card(0x80000003, WindowState::windowlessApp, "beta"),
  };
  CardOrdering::sortCards(cards, Order::recent, {}, CardOrdering::kNoRank, {{12, 0}, {30, 1}, {11, 2}}, false);
  EXPECT_EQ(ids(cards), (Ids{12, 30, 11, 31, 20, 40, 0x80000001, 0x80000003, 0x80000002}));
}

TEST(CardOrdering, RecentRankBeatsStateAndMissingRanksGoLast) {
  std::vector<WindowCard> cards = {card(1, WindowState::onCurrentSpace), card(2, WindowState::onOtherSpace),
                                   card(3, WindowState::minimized), card(4, WindowState::onCurrentSpace)};
  const auto ranks = CardOrdering::firstIndexTable({9, 8, 7, 2, 3});
  CardOrdering::sortCards(cards, Order::recent, ranks, CardOrdering::kNoRank, {{4, 0}, {1, 1}}, false);
  // The visited other-desktop card (rank 3) precedes the unvisited current-desktop cards.
  EXPECT_EQ(ids(cards), (Ids{2, 3, 4, 1}));
}

TEST(CardOrdering, FirstIndexTableKeepsTheFirstPosition) {
  const auto table = CardOrdering::firstIndexTable({5, 6, 5, 7});
  EXPECT_EQ(table.size(), 3u);
  EXPECT_EQ(table.at(5), 0);
  EXPECT_EQ(table.at(6), 1);
  EXPECT_EQ(table.at(7), 3);
}

TEST(CardOrdering, FixedOrderGroupsByLowercasedNameOnlyWhenAsked) {
  std::vector<WindowCard> cards = {card(5, WindowState::onCurrentSpace, "beta"),
                                   card(3, WindowState::onCurrentSpace, "Alpha"),
                                   card(4, WindowState::onOtherSpace, "Alpha"),
                                   card(9, WindowState::onCurrentSpace, "alpha")};
  auto plain = cards;
  CardOrdering::sortCards(plain, Order::fixed, {{4, 0}}, CardOrdering::kNoRank, {}, false);
  EXPECT_EQ(ids(plain), (Ids{3, 5, 9, 4}));
  CardOrdering::sortCards(cards, Order::fixed, {}, CardOrdering::kNoRank, {}, true);
  EXPECT_EQ(ids(cards), (Ids{3, 9, 5, 4}));
}

// X gives window ids by connection slot: the fixed order goes by the opening order where the window
// model knows it, by id where it does not, and windows still sort before tab and application cards
// they tie with.
TEST(CardOrdering, TheOpeningOrderWhereKnownIsTheLastKey) {
  auto opened = [](uint32_t id, uint32_t order, std::string title = "") {
    WindowCard c = card(id, WindowState::onCurrentSpace, "Term", std::move(title));
    c.openingOrder = order;
    return c;
  };
  const std::vector<WindowCard> terms = {opened(0x00800001, 5), opened(0x00c00001, 3), opened(0x00a00001, 1)};
  struct Case {
    Order order;
    bool known;
    Ids expected;
  };
  for (const Case& c : {Case{Order::fixed, true, {0x00a00001, 0x00c00001, 0x00800001}},
                        Case{Order::recent, true, {0x00a00001, 0x00c00001, 0x00800001}},
                        Case{Order::fixed, false, {0x00800001, 0x00a00001, 0x00c00001}}}) {
    std::vector<WindowCard> input = terms;
    if (!c.known) {
      for (WindowCard& w : input) w.openingOrder.reset();
    }
    std::vector<WindowCard> cards = input;
    CardOrdering::sortCards(cards, c.order, {}, CardOrdering::kNoRank, {}, true);
    EXPECT_EQ(ids(cards), c.expected) << AppSettings::rawValue(c.order) << (c.known ? " opening order" : " ids");
    EXPECT_EQ(ids(CardOrdering::gatherAppRuns(input, true, c.order)), c.expected) << "native runs";
  }

  WindowCard app = card(0x80000001, WindowState::windowlessApp, "Term", "Term");
  WindowCard tabCard = tab(0xC0000001, 0x00800001);
  tabCard.appName = tabCard.title = "Term";
  std::vector<WindowCard> ties = {tabCard, app, opened(0x00800001, WindowCard::kApplicationIDBit - 1, "Term")};
  CardOrdering::sortCards(ties, Order::alphabetical, {}, CardOrdering::kNoRank, {}, true);
  EXPECT_EQ(ids(ties), (Ids{0x00800001, 0x80000001, 0xC0000001}));
}

TEST(CardOrdering, AlphabeticalIgnoresStateUntilMinimizedGoesAtEnd) {
  std::vector<WindowCard> cards = {card(1, WindowState::onCurrentSpace, "App", "Zebra notes"),
                                   card(2, WindowState::minimized, "App", "apple pie"),
                                   card(3, WindowState::onCurrentSpace, "App", "File 10"),
                                   card(4, WindowState::onCurrentSpace, "App", "File 2")};
  CardOrdering::sortCards(cards, Order::alphabetical, {{1, 0}}, CardOrdering::kNoRank, {{1, 0}}, false);
  EXPECT_EQ(ids(cards), (Ids{2, 4, 3, 1}));  // numbers by value, case ignored
  const uint32_t minimizedAtEnd = CardOrdering::packCategoryDisplays(Display::show, Display::atEnd, Display::show,
                                                                     Display::show);
  EXPECT_EQ(ids(CardOrdering::moveCategoriesToEnd(cards, minimizedAtEnd)), (Ids{4, 3, 1, 2}));

  std::vector<WindowCard> grouped = {card(1, WindowState::onCurrentSpace, "Notes", "A"),
                                     card(2, WindowState::onCurrentSpace, "Mail", "B")};
  CardOrdering::sortCards(grouped, Order::alphabetical, {}, CardOrdering::kNoRank, {}, true);
  EXPECT_EQ(ids(grouped), (Ids{2, 1}));
}

TEST(CardOrdering, BySpaceSectionsAndRunsPerDesktop) {
  std::vector<WindowCard> cards = {
      card(1, WindowState::hiddenApp, "Mail", "a", 20),
      card(2, WindowState::onOtherSpace, "Mail", "b", 20),  // no desktop number: with the last section
      card(3, WindowState::onOtherSpace, "Notes", "c", 30, 3),
      card(4, WindowState::onOtherSpace, "Notes", "d", 30, 2),
      card(5, WindowState::onCurrentSpace, "Mail", "e", 20),
      card(6, WindowState::minimized, "Mail", "f", 20),
  };
  CardOrdering::sortCards(cards, Order::bySpace, {}, CardOrdering::kNoRank, {}, true);
  EXPECT_EQ(ids(cards), (Ids{5, 4, 3, 2, 6, 1}));
  // One application on desktops 2 and 3 forms two runs; the unnumbered cards share one.
  EXPECT_EQ(ids(CardOrdering::gatherAppRuns(cards, false, Order::bySpace)), (Ids{5, 4, 3, 2, 6, 1}));
  // Without the desktop order the runs are per process only.
  EXPECT_EQ(ids(CardOrdering::gatherAppRuns(cards, false, Order::recent)), (Ids{5, 2, 6, 1, 4, 3}));
}

TEST(CardOrdering, AppRunsGatherPerApplicationAndSortNatively) {
  std::vector<WindowCard> cards = {card(9, WindowState::onCurrentSpace, "Term", "", 1),
                                   card(4, WindowState::onCurrentSpace, "Term", "", 2),  // same name, other process
                                   card(2, WindowState::onCurrentSpace, "Mail", "", 3),
                                   card(3, WindowState::onCurrentSpace, "Term", "", 1)};
  EXPECT_EQ(ids(CardOrdering::gatherAppRuns(cards, false, Order::recent)), (Ids{9, 3, 4, 2}));
  EXPECT_EQ(ids(CardOrdering::gatherAppRuns(cards, true, Order::recent)), (Ids{3, 9, 4, 2}));
  // Processes of one bundle identifier (XTerm's one a window) are one application, on both paths.
  for (WindowCard& c : cards) c.bundleID = c.appName == "Term" ? "x11.XTerm" : "x11.Mail";
  EXPECT_EQ(ids(CardOrdering::gatherAppRuns(cards, false, Order::recent)), (Ids{9, 4, 3, 2}));
  EXPECT_EQ(CardOrdering::gatherAppRuns(cards, {0, 1, 2, 3}, false, Order::recent), (std::vector<uint32_t>{0, 1, 3, 2}));
}

TEST(CardOrdering, CategoriesMoveToTheEndInTheirIncomingOrder) {
  std::vector<WindowCard> cards = {card(1, WindowState::minimized), card(2, WindowState::onCurrentSpace),
                                   card(3, WindowState::onOtherSpace), card(4, WindowState::browserTab),
                                   card(5, WindowState::windowlessApp), card(6, WindowState::hiddenApp)};
  for (Display d : {Display::show, Display::hide}) {
    EXPECT_EQ(ids(CardOrdering::moveCategoriesToEnd(cards, CardOrdering::packCategoryDisplays(d, d, d, d))),
              (Ids{1, 2, 3, 4, 5, 6}));
  }
  const uint32_t some =
      CardOrdering::packCategoryDisplays(Display::atEnd, Display::atEnd, Display::show, Display::atEnd);
  EXPECT_EQ(some, 0x01000101u);
  EXPECT_EQ(ids(CardOrdering::moveCategoriesToEnd(cards, some)), (Ids{2, 4, 6, 1, 3, 5}));
}

TEST(CardOrdering, TabCardsFollowTheirWindow) {
  const std::vector<WindowCard> cards = {card(1, WindowState::onCurrentSpace), card(2, WindowState::minimized)};
  const CardOrdering::TabTable tabs = {
      {1, {tab(0xC0000001, 1), tab(0xC0000002, 1, true), tab(0xC0000003, 1)}},
      {2, {tab(0xC0000004, 2), tab(0xC0000005, 2)}},
      {99, {tab(0xC0000009, 99)}},  // host not in the list: not output
  };
  EXPECT_EQ(ids(CardOrdering::expandingTabCards(cards, tabs, nullptr)),
            (Ids{1, 0xC0000001, 0xC0000002, 0xC0000003, 2, 0xC0000004, 0xC0000005}));

  // By use: most recent first, then the selected tab, then the stored order.
  const CardOrdering::TabRecency recency = {{0xC0000003, 7}, {0xC0000005, 2}};
  EXPECT_EQ(ids(CardOrdering::expandingTabCards(cards, tabs, &recency)),
            (Ids{1, 0xC0000003, 0xC0000002, 0xC0000001, 2, 0xC0000005, 0xC0000004}));
  const CardOrdering::TabRecency none;
  EXPECT_EQ(ids(CardOrdering::expandingTabCards(cards, {{2, {tab(0xC0000004, 2), tab(0xC0000005, 2)}}}, &none)),
            (Ids{1, 2, 0xC0000004, 0xC0000005}));
  EXPECT_EQ(ids(CardOrdering::expandingTabCards(cards, {}, &recency)), (Ids{1, 2}));
}

TEST(CardOrdering, CurrentWindowIsTheFrontMostOnTheCurrentDesktop) {
  const std::vector<WindowCard> cards = {card(1, WindowState::onOtherSpace), card(2, WindowState::onCurrentSpace),
                                         card(3, WindowState::onCurrentSpace), card(4, WindowState::onCurrentSpace)};
  EXPECT_EQ(CardOrdering::currentWindow(cards, {{1, 0}, {3, 1}, {2, 2}}, std::nullopt), 3u);
  // Already heading the recency list: nothing to credit.
  EXPECT_EQ(CardOrdering::currentWindow(cards, {{3, 1}, {2, 2}}, 3u), std::nullopt);
  // Equal positions keep the earlier card; a best card without a position credits nothing.
  EXPECT_EQ(CardOrdering::currentWindow(cards, {{4, 1}, {3, 1}}, std::nullopt), 3u);
  EXPECT_EQ(CardOrdering::currentWindow(cards, {{1, 0}}, std::nullopt), std::nullopt);
  EXPECT_EQ(CardOrdering::currentWindow(cards, {}, std::nullopt), std::nullopt);

  // A focus the platform reports apart from the stacking decides alone: the focused window while it
  // is a current-desktop card and not already the head, else nothing (the z-order is not asked).
  const CardOrdering::ZOrder stacking = {{3, 0}, {2, 1}, {4, 2}};
  EXPECT_EQ(CardOrdering::currentWindow(cards, stacking, std::nullopt, WindowFocus{4}), 4u);
  EXPECT_EQ(CardOrdering::currentWindow(cards, {}, std::nullopt, WindowFocus{4}), 4u);
  EXPECT_EQ(CardOrdering::currentWindow(cards, stacking, 4u, WindowFocus{4}), std::nullopt);
  EXPECT_EQ(CardOrdering::currentWindow(cards, stacking, std::nullopt, WindowFocus{1}), std::nullopt);
  EXPECT_EQ(CardOrdering::currentWindow(cards, stacking, std::nullopt, WindowFocus{99}), std::nullopt);
  EXPECT_EQ(CardOrdering::currentWindow(cards, stacking, std::nullopt, WindowFocus{}), std::nullopt);
}

TEST(CardOrdering, SortByRankIsStableAndPutsUnrankedLast) {
  std::vector<WindowCard> cards = {card(1, WindowState::onCurrentSpace), card(2, WindowState::onCurrentSpace),
                                   card(3, WindowState::onCurrentSpace), card(4, WindowState::onCurrentSpace)};
  CardOrdering::sortByRank(cards, {});
  EXPECT_EQ(ids(cards), (Ids{1, 2, 3, 4}));
  CardOrdering::sortByRank(cards, {{4, 0}, {2, 5}, {3, 5}});
  EXPECT_EQ(ids(cards), (Ids{4, 2, 3, 1}));
}

}  // namespace
}  // namespace quorvel
