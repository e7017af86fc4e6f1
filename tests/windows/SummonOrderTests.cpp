// The summon's order on indices and ranks against a plain statement of the same rules (cards
// sorted as values with the text compares at every comparison), on randomized desktops.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "base/TextServices.h"
#include "settings/AppSettings.h"
#include "windows/CardOrdering.h"
#include "windows/IdTable.h"

namespace quorvel {
namespace {

using Order = AppSettings::WindowOrder;
using Display = AppSettings::CategoryDisplay;
using Ids = std::vector<uint32_t>;

struct Desktop {
  std::vector<WindowCard> cards;
  std::vector<uint32_t> visits;  // most recent first; may name windows that are gone
  CardOrdering::ZOrder zOrder;
  CardOrdering::TabTable tabs;
  CardOrdering::TabRecency tabUse;
};

Desktop randomDesktop(uint32_t seed) {
  std::mt19937 rng(seed);
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<uint32_t>(n)); };
  const std::vector<std::string> names = {"Mail", "mail", "Ärger", "Zeta", "zeta", "Notes", "notes ", ""};
  const std::vector<std::string> titles = {"File 2", "File 10", "file 2", "caf\u00e9", "cafe\u0301", "",
                                           "\u00c9clair", "Inbox", "inbox", "Zebra", "a", "B"};
  const WindowState states[] = {WindowState::onCurrentSpace, WindowState::onOtherSpace, WindowState::minimized,
                                WindowState::hiddenApp, WindowState::windowlessApp};
  Desktop d;
  const int count = 2 + pick(40);
  for (int i = 0; i < count; ++i) {
    WindowCard c;
    c.state = states[pick(5)];
    c.pid = 100 + pick(6);
    c.id = c.state == WindowState::windowlessApp ? WindowCard::applicationCardID(1000 + i) : 10 + static_cast<uint32_t>(i);
    c.orderingID = static_cast<uint32_t>(pick(count));  // repeats on purpose
    // Where the window model knows the opening order (odd seeds), it disagrees with the ids.
    if (seed % 2 == 1 && c.state != WindowState::windowlessApp) c.openingOrder = static_cast<uint32_t>(pick(count));
    c.appName = names[static_cast<size_t>(c.pid - 100)];
    c.title = titles[static_cast<size_t>(pick(static_cast<int>(titles.size())))];
    if (c.state == WindowState::onOtherSpace && pick(4) != 0) c.spaceNumber = 1 + pick(3);
    d.cards.push_back(std::move(c));
  }
  std::shuffle(d.cards.begin(), d.cards.end(), rng);
  for (const WindowCard& c : d.cards) {
    if (pick(3) != 0) d.visits.push_back(c.id);
    if (pick(2) == 0) d.zOrder[c.id] = pick(count);  // equal positions too
  }
  d.visits.push_back(9999);  // a window gone since
  std::shuffle(d.visits.begin(), d.visits.end(), rng);
  uint32_t nextTab = WindowCard::kTabIDFloor;
  for (const WindowCard& c : d.cards) {
    if (c.state == WindowState::windowlessApp || pick(3) != 0) continue;
    std::vector<WindowCard> tabs;
    const int selected = pick(4);
    for (int t = 0, n = pick(5); t < n; ++t) {
      WindowCard::TabFacts facts;
      facts.hostWindowID = c.id;
      facts.isSelected = t == selected;
      const uint32_t id = nextTab++;
      tabs.push_back(WindowCard::tabCard(c, id, "Tab", facts));
      if (pick(2) == 0) d.tabUse[id] = pick(3);  // ties on purpose
    }
    d.tabs[c.id] = std::move(tabs);
  }
  return d;
}

// ---- The rules, stated on values ----

int64_t rankIn(const std::vector<uint32_t>& ids, uint32_t id) {
  const auto it = std::find(ids.begin(), ids.end(), id);
  return it == ids.end() ? CardOrdering::kNoRank : it - ids.begin();
}

int64_t sectionOf(const WindowCard& c) {
  if (c.state == WindowState::onCurrentSpace) return 0;
  if (c.state == WindowState::onOtherSpace && c.spaceNumber) return *c.spaceNumber;
  return CardOrdering::kNoRank;
}

Ids referenceOrder(const Desktop& d, const CardOrdering::SummonSettings& how) {
  std::vector<WindowCard> cards = d.cards;
  // The last key: the opening order where known, else the ordering id.
  auto lastKey = [](const WindowCard& c) { return c.openingOrder ? *c.openingOrder : c.orderingID; };
  auto cmp = [](const std::string& a, const std::string& b) { return TextServices::localizedStandardCompare(a, b); };
  auto lowerCmp = [](const std::string& a, const std::string& b) {
    return TextServices::plainCompare(TextServices::lowercased(a), TextServices::lowercased(b));
  };
  auto alphabetical = [&](const WindowCard& a, const WindowCard& b) {
    if (how.groupByApp) {
      if (const int c = cmp(a.appName, b.appName)) return c < 0;
    }
    if (const int c = cmp(a.title, b.title)) return c < 0;
    return lastKey(a) < lastKey(b);
  };
  std::stable_sort(cards.begin(), cards.end(), [&](const WindowCard& a, const WindowCard& b) {
    switch (how.order) {
      case Order::recent: {
        const int64_t ra = d.visits.empty() ? 0 : rankIn(d.visits, a.id);
        const int64_t rb = d.visits.empty() ? 0 : rankIn(d.visits, b.id);
        if (ra != rb) return ra < rb;
        if (a.state != b.state) return a.state < b.state;
        if (a.state == WindowState::windowlessApp) {
          if (const int c = lowerCmp(a.appName, b.appName)) return c < 0;
        } else if (a.state == WindowState::onCurrentSpace && !d.zOrder.empty()) {
          auto z = [&](uint32_t id) {
            const auto it = d.zOrder.find(id);
            return it == d.zOrder.end() ? CardOrdering::kNoRank : it->second;
          };
          if (z(a.id) != z(b.id)) return z(a.id) < z(b.id);
        }
        return lastKey(a) < lastKey(b);
      }
      case Order::fixed:
        if (a.state != b.state) return a.state < b.state;
        if (how.groupByApp) {
          if (const int c = lowerCmp(a.appName, b.appName)) return c < 0;
        }
        return lastKey(a) < lastKey(b);
      case Order::alphabetical: return alphabetical(a, b);
      case Order::bySpace:
        if (sectionOf(a) != sectionOf(b)) return sectionOf(a) < sectionOf(b);
        if (a.state != b.state) return a.state < b.state;
        return alphabetical(a, b);
    }
    return false;
  });
  if (how.groupByApp) {
    std::vector<std::pair<std::pair<int64_t, int32_t>, std::vector<WindowCard>>> runs;
    for (WindowCard& c : cards) {
      const std::pair<int64_t, int32_t> key{how.order == Order::bySpace ? sectionOf(c) : 0, c.pid};
      auto it = std::find_if(runs.begin(), runs.end(), [&](const auto& run) { return run.first == key; });
      if (it == runs.end()) it = runs.insert(runs.end(), {key, {}});
      it->second.push_back(c);
    }
    cards.clear();
    for (auto& [key, run] : runs) {
      if (how.nativeRuns) {
        std::stable_sort(run.begin(), run.end(),
                         [&](const WindowCard& a, const WindowCard& b) { return lastKey(a) < lastKey(b); });
      }
      cards.insert(cards.end(), run.begin(), run.end());
    }
  }
  auto atEnd = [&](const WindowCard& c) {
    const int byte = c.state == WindowState::onOtherSpace ? 0
                     : c.state == WindowState::minimized ? 1
                     : c.state == WindowState::hiddenApp ? 2
                     : c.state == WindowState::windowlessApp ? 3
                                                             : -1;
    return byte >= 0 && ((how.packedDisplays >> (8 * byte)) & 0xFF) == static_cast<uint32_t>(Display::atEnd);
  };
  std::stable_partition(cards.begin(), cards.end(), [&](const WindowCard& c) { return !atEnd(c); });
  Ids out;
  for (const WindowCard& c : cards) {
    out.push_back(c.id);
    const auto it = d.tabs.find(c.id);
    if (it == d.tabs.end()) continue;
    std::vector<WindowCard> tabs = it->second;
    if (how.tabsByRecency) {
      auto use = [&](const WindowCard& t) {
        const auto u = d.tabUse.find(t.id);
        return u == d.tabUse.end() ? 0 : u->second;
      };
      std::stable_sort(tabs.begin(), tabs.end(), [&](const WindowCard& a, const WindowCard& b) {
        if (use(a) != use(b)) return use(a) > use(b);
        return a.tab->isSelected && !b.tab->isSelected;
      });
    }
    for (const WindowCard& t : tabs) out.push_back(t.id);
  }
  return out;
}

// ---- The code under test ----

Ids summonOrder(const Desktop& d, const CardOrdering::SummonSettings& how, const CardOrdering::TextRanks& text) {
  const CardOrdering::RankTable ranks = CardOrdering::firstIndexTable(d.visits);
  std::vector<int64_t> rank, z;
  for (const WindowCard& c : d.cards) {
    const auto r = ranks.find(c.id);
    rank.push_back(ranks.empty() ? 0 : r == ranks.end() ? CardOrdering::kNoRank : r->second);
    const auto p = d.zOrder.find(c.id);
    if (!d.zOrder.empty()) z.push_back(p == d.zOrder.end() ? CardOrdering::kNoRank : p->second);
  }
  Ids out;
  for (const WindowCard* c : CardOrdering::summonOrder(d.cards, text, rank, z, d.tabs, d.tabUse, how)) {
    out.push_back(c->id);
  }
  return out;
}

// The orders the refresh pass uses on values, chained as a summon would.
Ids valueOrder(const Desktop& d, const CardOrdering::SummonSettings& how) {
  std::vector<WindowCard> cards = d.cards;
  CardOrdering::sortCards(cards, how.order, CardOrdering::firstIndexTable(d.visits), CardOrdering::kNoRank,
                          d.zOrder, how.groupByApp);
  if (how.groupByApp) cards = CardOrdering::gatherAppRuns(std::move(cards), how.nativeRuns, how.order);
  cards = CardOrdering::moveCategoriesToEnd(std::move(cards), how.packedDisplays);
  Ids out;
  for (const WindowCard& c : CardOrdering::expandingTabCards(cards, d.tabs, how.tabsByRecency ? &d.tabUse : nullptr)) {
    out.push_back(c.id);
  }
  return out;
}

TEST(SummonOrder, EveryOrderMatchesTheRulesOnRandomDesktops) {
  const uint32_t displays[] = {0, CardOrdering::packCategoryDisplays(Display::atEnd, Display::atEnd, Display::atEnd,
                                                                     Display::atEnd),
                               CardOrdering::packCategoryDisplays(Display::atEnd, Display::show, Display::show,
                                                                  Display::atEnd)};
  for (uint32_t seed = 1; seed <= 12; ++seed) {
    const Desktop d = randomDesktop(seed);
    const CardOrdering::TextRanks text = CardOrdering::textRanks(d.cards);
    for (Order order : AppSettings::allCases<Order>()) {
      for (int flags = 0; flags < 8; ++flags) {
        for (uint32_t packed : displays) {
          CardOrdering::SummonSettings how;
          how.order = order;
          how.groupByApp = flags & 1;
          how.nativeRuns = flags & 2;
          how.tabsByRecency = flags & 4;
          how.packedDisplays = packed;
          const Ids expected = referenceOrder(d, how);
          SCOPED_TRACE(testing::Message() << "seed " << seed << " order " << AppSettings::rawValue(order)
                                          << " flags " << flags << " displays " << packed);
          ASSERT_EQ(summonOrder(d, how, text), expected);
          ASSERT_EQ(summonOrder(d, how, {}), expected) << "text ranks made on the spot";
          ASSERT_EQ(valueOrder(d, how), expected);
        }
      }
    }
  }
}

TEST(IdTable, KeepsEveryIdThroughGrowth) {
  IdTable table;  // no room reserved: every id added grows it as needed
  EXPECT_EQ(table.find(0), std::nullopt);
  std::vector<uint32_t> ids = {0, 0xFFFFFFFFu, WindowCard::kTabIDFloor, WindowCard::kApplicationIDBit};
  for (uint32_t i = 1; i < 700; ++i) ids.push_back(i * 4096);  // ids that differ in high bits only
  for (size_t i = 0; i < ids.size(); ++i) EXPECT_TRUE(table.insert(ids[i], static_cast<int64_t>(i)));
  EXPECT_FALSE(table.insert(ids[5], -1)) << "a present id keeps its value";
  table.assign(ids[6], -6);
  EXPECT_EQ(table.size(), ids.size());
  for (size_t i = 0; i < ids.size(); ++i) {
    EXPECT_EQ(table.valueOr(ids[i], -100), i == 6 ? -6 : static_cast<int64_t>(i)) << ids[i];
  }
  EXPECT_FALSE(table.contains(4097));
  EXPECT_EQ(table.valueOr(4097, -100), -100);
}

}  // namespace
}  // namespace quorvel
