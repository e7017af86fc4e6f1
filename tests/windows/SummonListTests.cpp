#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/BrowserTrees.h"
#include "windows/RegistryFixture.h"

namespace quorvel {
namespace {

using Ids = std::vector<uint32_t>;

class SummonListTest : public RegistryFixture {
 protected:
  Ids summonIDs() { return idsOf(registry->cardsForSummon().cards); }
};

TEST_F(SummonListTest, AnEmptyDesktopGivesAnEmptyList) {
  pass();
  const auto list = registry->cardsForSummon();
  EXPECT_TRUE(list.cards.empty());
  EXPECT_EQ(list.currentIndex, 0);
  EXPECT_EQ(list.previousIndex, 0);
}

TEST_F(SummonListTest, ASingleWindowIsBothCurrentAndPrevious) {
  SimApp& mail = launch(100, "Mail");
  SimWindow& inbox = open(mail, "Inbox");
  pass();
  withState([](RegistryState& s) {
    s.recency.clear();
    return 0;
  });
  const auto list = registry->cardsForSummon();
  ASSERT_EQ(idsOf(list.cards), Ids{inbox.number});
  EXPECT_EQ(list.currentIndex, 0);
  EXPECT_EQ(list.previousIndex, 0);
  EXPECT_EQ(recencyIDs(), Ids{inbox.number});  // the summon credited it
}

// Mail: Inbox (current desktop), Draft (minimized); Notes: Zeta (current desktop, front-most),
// Alpha (desktop 2); Calculator without windows. Zeta, then Alpha, were visited.
class SummonOrderTest : public SummonListTest {
 protected:
  void SetUp() override {
    SimApp& mail = launch(100, "Mail");
    SimApp& notes = launch(101, "Notes");
    launch(102, "Calculator");
    inbox = open(mail, "Inbox").number;
    draft = open(mail, "Draft").number;
    zeta = open(notes, "Zeta").number;
    alpha = open(notes, "Alpha").number;
    const int64_t second = sim.addDesktop(1);
    pass();
    sim.moveWindowToDesktop(alpha, second);
    sim.minimizeWindow(draft);
    pass();
    ASSERT_EQ(recencyIDs(), (Ids{zeta, alpha}));
  }
  uint32_t inbox = 0, draft = 0, zeta = 0, alpha = 0;
  const uint32_t calculator = WindowCard::applicationCardID(102);
};

TEST_F(SummonOrderTest, RecentOrderWithTheCurrentAndPreviousWindow) {
  auto list = registry->cardsForSummon();
  EXPECT_EQ(idsOf(list.cards), (Ids{zeta, alpha, inbox, draft, calculator}));
  EXPECT_EQ(list.currentIndex, 0);
  EXPECT_EQ(list.previousIndex, 1);

  set(AppSettings::Key::groupByApp, true);
  EXPECT_EQ(summonIDs(), (Ids{zeta, alpha, inbox, draft, calculator}));
  set(AppSettings::Key::minimizedDisplay, "atEnd");
  set(AppSettings::Key::otherSpacesDisplay, "atEnd");
  list = registry->cardsForSummon();
  EXPECT_EQ(idsOf(list.cards), (Ids{zeta, inbox, calculator, alpha, draft}));
  EXPECT_EQ(list.previousIndex, 3);  // the previous window follows its card
}

TEST_F(SummonOrderTest, FixedOrderGroupsApplications) {
  set(AppSettings::Key::windowOrder, "fixed");
  EXPECT_EQ(summonIDs(), (Ids{inbox, zeta, alpha, draft, calculator}));
  set(AppSettings::Key::groupByApp, true);
  EXPECT_EQ(summonIDs(), (Ids{inbox, draft, zeta, alpha, calculator}));
  set(AppSettings::Key::bunchAppWindows, true);
  set(AppSettings::Key::stackOrder, "native");
  EXPECT_EQ(summonIDs(), (Ids{inbox, draft, zeta, alpha, calculator}));
  set(AppSettings::Key::windowlessAppsDisplay, "atEnd");
  EXPECT_EQ(summonIDs(), (Ids{inbox, draft, zeta, alpha, calculator}));
}

TEST_F(SummonOrderTest, AlphabeticalOrderByTitle) {
  set(AppSettings::Key::windowOrder, "alphabetical");
  const auto list = registry->cardsForSummon();
  EXPECT_EQ(idsOf(list.cards), (Ids{alpha, calculator, draft, inbox, zeta}));
  EXPECT_EQ(list.currentIndex, 4);   // Zeta is still the front-most window
  EXPECT_EQ(list.previousIndex, 0);  // and Alpha the one visited before it
  set(AppSettings::Key::groupByApp, true);
  EXPECT_EQ(summonIDs(), (Ids{calculator, draft, inbox, alpha, zeta}));
}

TEST_F(SummonOrderTest, ByDesktopOrderInSections) {
  set(AppSettings::Key::windowOrder, "bySpace");
  set(AppSettings::Key::groupByApp, true);
  EXPECT_EQ(summonIDs(), (Ids{inbox, zeta, alpha, draft, calculator}));
  set(AppSettings::Key::groupByApp, false);
  EXPECT_EQ(summonIDs(), (Ids{inbox, zeta, alpha, draft, calculator}));
}

TEST_F(SummonOrderTest, ThePreviousWindowFallsBackToTheNextOneOnScreen) {
  withState([&](RegistryState& s) {
    s.recency.clear();
    return 0;
  });
  const auto list = registry->cardsForSummon();
  // Only the credited front-most window has been visited; the next on-screen window is Inbox.
  EXPECT_EQ(list.cards[list.currentIndex].id, zeta);
  EXPECT_EQ(list.cards[list.previousIndex].id, inbox);
}

TEST_F(SummonListTest, TabsFollowTheirWindowByUseWhenBunchedByRecency) {
  set(AppSettings::Key::tabsDisplay, "always");
  SimApp& browser = launch(200, "Google Chrome", std::string("com.google.Chrome"));
  SimWindow& window = open(browser, "News", {0, 0, 1200, 800});
  BrowserTrees::chromium(sim, window.number, BrowserTrees::numberedTabs(4, "Tab ", 0));
  registry->onDefaultsChanged();
  pass();
  const uint32_t t2 = 0xC0000002, t3 = 0xC0000003, t4 = 0xC0000004;
  EXPECT_EQ(summonIDs(), (Ids{window.number, t2, t3, t4}));

  registry->recordTabPress(t4, window.number);
  registry->recordTabPress(t3, window.number);
  pass();  // the touches reach the tab use table, even on a skipped pass
  EXPECT_EQ(summonIDs(), (Ids{window.number, t2, t3, t4}));  // not bunched: stored order
  set(AppSettings::Key::bunchTabs, true);
  set(AppSettings::Key::stackOrder, "recent");
  EXPECT_EQ(summonIDs(), (Ids{window.number, t3, t4, t2}));
  set(AppSettings::Key::stackOrder, "native");
  EXPECT_EQ(summonIDs(), (Ids{window.number, t2, t3, t4}));
}

}  // namespace
}  // namespace quorvel
