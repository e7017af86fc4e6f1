#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/BrowserTrees.h"
#include "tabs/TabIdentityStore.h"
#include "windows/RegistryFixture.h"
#include "windows/TabCardStep.h"

namespace quorvel {
namespace {

using Ids = std::vector<uint32_t>;

class TabCardStepTest : public RegistryFixture {
 protected:
  static constexpr int32_t kChromePid = 200;

  TabCardStepTest() {
    store.set(AppSettings::Key::tabsDisplay, "always");
    registry->setTabCardSink([this](std::vector<WindowCard> tabs, bool resolveIcons) {
      sunk.push_back(idsOf(tabs));
      sunkFlags.push_back(resolveIcons);
    });
  }

  SimApp& chrome() { return launch(kChromePid, "Google Chrome", std::string("com.google.Chrome")); }
  SimWindow& browserWindow(SimApp& app, const std::string& title, size_t tabs, size_t selected,
                           BuiltStrip* strip = nullptr) {
    SimWindow& window = open(app, title, {0, 0, 1200, 800});
    BuiltStrip built = BrowserTrees::chromium(sim, window.number, BrowserTrees::numberedTabs(tabs, "Tab ", selected));
    if (strip) *strip = built;
    return window;
  }
  void force() {
    withState([](RegistryState& s) {
      s.mustRunNextPass = true;
      return 0;
    });
  }
  void set(const std::string& key, DefaultsStore::Value value) {
    RegistryFixture::set(key, std::move(value));
    registry->onDefaultsChanged();
  }
  std::vector<WindowCard> tabsOf(uint32_t host) {
    return withState([&](RegistryState& s) {
      auto it = s.tabCards->find(host);
      return it == s.tabCards->end() ? std::vector<WindowCard>{} : it->second;
    });
  }

  std::vector<Ids> sunk;
  std::vector<bool> sunkFlags;
};

TEST_F(TabCardStepTest, ABrowserWindowBecomesOneCardPerTabButTheOneItShows) {
  SimApp& browser = chrome();
  SimWindow& window = browserWindow(browser, "News", 5, 2);
  pass();
  const auto tabs = tabsOf(window.number);
  ASSERT_EQ(tabs.size(), 4u);
  std::vector<int> ordinals;
  for (const auto& tab : tabs) {
    ordinals.push_back(tab.tab->ordinal);
    EXPECT_EQ(tab.state, WindowState::browserTab);
    EXPECT_EQ(tab.tab->hostWindowID, window.number);
    EXPECT_EQ(tab.tab->stripCount, 5);
    EXPECT_FALSE(tab.tab->deminimizeHost);
    EXPECT_EQ(tab.frame, Rect(0, 0, 1200, 800));
    EXPECT_EQ(tab.orderingID, tab.id);
    EXPECT_TRUE(WindowCard::isTabID(tab.id));
  }
  EXPECT_EQ(ordinals, (std::vector<int>{0, 1, 3, 4}));
  EXPECT_EQ(tabs[2].title, "Tab 4");
  EXPECT_EQ(withState([&](RegistryState& s) { return s.showingTabByHost.at(window.number); }), 0xC0000003u);
  EXPECT_EQ(sunk, (std::vector<Ids>{{0xC0000001, 0xC0000002, 0xC0000004, 0xC0000005}}));
  EXPECT_EQ(sunkFlags, std::vector<bool>{true});

  // The summon list puts the tabs right after their window.
  const auto list = registry->cardsForSummon();
  EXPECT_EQ(idsOf(list.cards), (Ids{window.number, 0xC0000001, 0xC0000002, 0xC0000004, 0xC0000005}));

  // Unchanged windows are served from the cache, with the same ids.
  const int calls = sim.axCalls(kChromePid);
  force();
  pass();
  EXPECT_EQ(sim.axCalls(kChromePid), calls);
  EXPECT_EQ(idsOf(tabsOf(window.number)), idsOf(tabs));
  EXPECT_EQ(sunk.size(), 2u);
}

TEST_F(TabCardStepTest, MinimizedHostsKeepTheirTabsUnlessTabsAreWindows) {
  SimApp& browser = chrome();
  SimWindow& window = browserWindow(browser, "News", 3, 0);
  SimApp& finder = launch(300, "Finder", std::string("com.apple.finder"));
  SimWindow& folder = open(finder, "Documents", {0, 0, 1000, 700});
  BrowserTrees::tabbedWindows(sim, folder.number, BrowserTrees::numberedTabs(3, "Folder ", 0));
  pass();
  EXPECT_EQ(tabsOf(folder.number).size(), 2u);

  window.minimize();
  folder.minimize();
  pass();
  const auto tabs = tabsOf(window.number);
  ASSERT_EQ(tabs.size(), 2u);
  EXPECT_TRUE(tabs[0].tab->deminimizeHost);
  EXPECT_TRUE(tabsOf(folder.number).empty());
}

TEST_F(TabCardStepTest, AHostWhoseTabsCannotBeReadShowsTheirCount) {
  SimApp& browser = chrome();
  BuiltStrip strip;
  SimWindow& window = browserWindow(browser, "News", 5, 0, &strip);
  pass();
  ASSERT_EQ(tabsOf(window.number).size(), 4u);

  sim.removeElement(strip.container);
  window.setTitle("News - updated");
  pass();
  EXPECT_TRUE(tabsOf(window.number).empty());
  EXPECT_EQ(card(window.number)->tabsOutOfReach, 4);
  EXPECT_EQ(sunk.size(), 1u);  // no tab cards this time: the sink is not called
}

TEST_F(TabCardStepTest, TheTabsOfAClosedWindowAreNotCarriedOver) {
  SimApp& browser = chrome();
  SimWindow& first = browserWindow(browser, "News", 3, 0);
  SimWindow& second = browserWindow(browser, "Mail", 4, 0);
  pass();
  ASSERT_EQ(tabsOf(second.number).size(), 3u);

  second.close();
  pass();
  EXPECT_EQ(tabsOf(first.number).size(), 2u);
  const auto cached = withState([&](RegistryState& s) { return s.tabCache.at(kChromePid); });
  EXPECT_EQ(cached.tabsByHost.size(), 1u);
  EXPECT_TRUE(cached.tabsByHost.contains(first.number));
  EXPECT_TRUE(cached.outOfReach.empty());
  EXPECT_FALSE(cached.showingByHost.contains(second.number));
}

TEST_F(TabCardStepTest, AWindowNoLongerWalkedKeepsItsShownTabOnlyWithItsRememberedTabs) {
  set(AppSettings::Key::privateWindowsDisplay, "blur");
  SimApp& browser = chrome();
  SimWindow& news = browserWindow(browser, "News", 3, 0);
  SimWindow& single = browserWindow(browser, "Bank", 1, 0);   // shows its one tab: no tab cards
  SimWindow& mail = browserWindow(browser, "Mail", 3, 1);
  pass();
  auto showing = [&] { return withState([](RegistryState& s) { return s.showingTabByHost; }); };
  ASSERT_TRUE(showing().contains(single.number));
  ASSERT_TRUE(tabsOf(single.number).empty());

  // Both become private: neither is walked any more. The window with remembered tabs carries them
  // (as a count) and the tab it showed; the single-tab window had no tabs to carry.
  single.setTitle("Bank - Incognito");
  mail.setTitle("Mail - Incognito");
  pass();
  EXPECT_EQ(card(mail.number)->tabsOutOfReach, 2);
  EXPECT_TRUE(showing().contains(mail.number));
  EXPECT_FALSE(showing().contains(single.number));
  EXPECT_TRUE(showing().contains(news.number));
}

TEST_F(TabCardStepTest, PrivateHostsGetNoTabsAndTitlesAreReadOnlyWhenNeeded) {
  SimApp& browser = chrome();
  SimWindow& window = browserWindow(browser, "News", 3, 0);
  SimWindow& secret = browserWindow(browser, "Bank (Incognito)", 3, 0);
  pass();  // private windows shown: titles are not read
  EXPECT_EQ(tabsOf(secret.number).size(), 2u);
  EXPECT_FALSE(withState([](RegistryState& s) { return s.tabCache.at(kChromePid).readPrivateTitles; }));

  // Any other display needs the titles: the cached walk made without them is not reused.
  const int calls = sim.axCalls(kChromePid);
  set(AppSettings::Key::privateWindowsDisplay, "blur");
  pass();
  EXPECT_GT(sim.axCalls(kChromePid), calls);
  EXPECT_TRUE(tabsOf(secret.number).empty());
  EXPECT_EQ(tabsOf(window.number).size(), 2u);
  EXPECT_TRUE(withState([&](RegistryState& s) { return s.axPrivateWindows.contains(secret.number); }));
  force();
  pass();
  EXPECT_TRUE(card(secret.number)->isPrivate);
  EXPECT_TRUE(tabsOf(secret.number).empty());
}

TEST_F(TabCardStepTest, WithTabsOffThereAreNoTabCardsAndNoCache) {
  SimApp& browser = chrome();
  SimWindow& window = browserWindow(browser, "News", 3, 0);
  pass();
  ASSERT_FALSE(tabsOf(window.number).empty());
  set(AppSettings::Key::tabsDisplay, "off");
  pass();
  EXPECT_TRUE(tabsOf(window.number).empty());
  EXPECT_TRUE(withState([](RegistryState& s) { return s.tabCache.empty(); }));
  EXPECT_TRUE(withState([](RegistryState& s) { return s.tabIdentity().hosts().empty(); }));
  EXPECT_EQ(sunk.size(), 1u);
}

// ---- Site-icon crops from tab geometry ----

TEST(TabCardStepCrop, TheIconSquareFollowsTheTabHeightWithinTwelveToTwenty) {
  TabAdapter adapter;
  adapter.hasSiteIcon = true;
  adapter.faviconInsetFraction = 0.2;
  adapter.pinnedWidthFactor = 1.5;
  const Rect host{0, 0, 1200, 800};
  TabRecord tab;
  tab.frame = Rect{100, 10, 200, 30};

  adapter.faviconSideFraction = 0.5;  // 15 points
  auto crop = TabCardStep::faviconCrop(tab, adapter, host, false);
  ASSERT_TRUE(crop);
  EXPECT_DOUBLE_EQ(crop->x, 106.0 / 1200);
  EXPECT_DOUBLE_EQ(crop->y, 17.5 / 800);
  EXPECT_DOUBLE_EQ(crop->width, 15.0 / 1200);
  EXPECT_DOUBLE_EQ(crop->height, 15.0 / 800);
  // Right to left: the icon sits at the tab's trailing edge.
  EXPECT_DOUBLE_EQ(TabCardStep::faviconCrop(tab, adapter, host, true)->x, (300.0 - 6 - 15) / 1200);

  adapter.faviconSideFraction = 8.0 / 30;  // raised to 12
  EXPECT_DOUBLE_EQ(TabCardStep::faviconCrop(tab, adapter, host, false)->width, 12.0 / 1200);
  adapter.faviconSideFraction = 26.0 / 30;  // lowered to 20
  EXPECT_DOUBLE_EQ(TabCardStep::faviconCrop(tab, adapter, host, false)->width, 20.0 / 1200);

  // A pinned tab centres its icon.
  adapter.faviconSideFraction = 0.5;
  tab.frame = Rect{100, 10, 40, 30};
  EXPECT_DOUBLE_EQ(TabCardStep::faviconCrop(tab, adapter, host, false)->x, 112.5 / 1200);

  // Lower than the top 15 % of the window, or no host frame, or no site icons: no crop.
  tab.frame = Rect{100, 200, 200, 30};
  EXPECT_FALSE(TabCardStep::faviconCrop(tab, adapter, host, false));
  EXPECT_FALSE(TabCardStep::faviconCrop(tab, adapter, std::nullopt, false));
  adapter.hasSiteIcon = false;
  tab.frame = Rect{100, 10, 200, 30};
  EXPECT_FALSE(TabCardStep::faviconCrop(tab, adapter, host, false));
  // The icon's own frame wins over the tab's geometry.
  adapter.hasSiteIcon = true;
  tab.faviconFrame = Rect{200, 12, 16, 16};
  EXPECT_DOUBLE_EQ(TabCardStep::faviconCrop(tab, adapter, host, false)->x, 200.0 / 1200);
}

}  // namespace
}  // namespace quorvel
