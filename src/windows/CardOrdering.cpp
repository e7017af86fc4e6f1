#include "windows/CardOrdering.h"

#include <algorithm>
#include <numeric>
#include <string>
#include <string_view>
#include <utility>

#include "base/TextServices.h"
#include "settings/AppSettings.h"
#include "windows/ApplicationIdentity.h"

namespace quorvel {

namespace {

using WindowOrder = AppSettings::WindowOrder;

template <class Table>
int64_t lookup(const Table& table, uint32_t id, int64_t missing) {
  const auto it = table.find(id);
  return it == table.end() ? missing : it->second;
}

// Moves the cards into the order of `indices`.
std::vector<WindowCard> permuted(std::vector<WindowCard>& cards, const std::vector<uint32_t>& indices) {
  std::vector<WindowCard> out;
  out.reserve(cards.size());
  for (uint32_t i : indices) out.push_back(std::move(cards[i]));
  return out;
}

// Each card's rank of one text field under the localized standard compare: texts that compare
// equal share a rank.
std::vector<uint32_t> standardCompareRanks(const std::vector<WindowCard>& cards, std::string WindowCard::*field) {
  std::vector<const std::string*> distinct;
  {
    std::unordered_map<std::string_view, bool> seen;
    seen.reserve(cards.size());
    for (const auto& card : cards) {
      const std::string& text = card.*field;
      if (seen.try_emplace(text, true).second) distinct.push_back(&text);
    }
  }
  std::sort(distinct.begin(), distinct.end(), [](const std::string* a, const std::string* b) {
    return TextServices::localizedStandardCompare(*a, *b) < 0;
  });
  std::unordered_map<std::string_view, uint32_t> rank;
  rank.reserve(distinct.size());
  uint32_t current = 0;
  for (size_t i = 0; i < distinct.size(); ++i) {
    if (i > 0 && TextServices::localizedStandardCompare(*distinct[i - 1], *distinct[i]) != 0) ++current;
    rank.emplace(*distinct[i], current);
  }
  std::vector<uint32_t> out;
  out.reserve(cards.size());
  for (const auto& card : cards) out.push_back(rank.at(card.*field));
  return out;
}

// Each card's rank of its lower-cased application name in plain (code-point) order; each distinct
// name is lower-cased once.
std::vector<uint32_t> lowercasedNameRanks(const std::vector<WindowCard>& cards) {
  std::unordered_map<std::string_view, uint32_t> slot;  // name -> index into `lowered`
  std::vector<std::string> lowered;
  std::vector<uint32_t> out;
  out.reserve(cards.size());
  for (const auto& card : cards) {
    auto [it, added] = slot.try_emplace(card.appName, static_cast<uint32_t>(lowered.size()));
    if (added) lowered.push_back(TextServices::lowercased(card.appName));
    out.push_back(it->second);
  }
  std::vector<uint32_t> order(lowered.size());
  std::iota(order.begin(), order.end(), 0u);
  std::sort(order.begin(), order.end(),
            [&](uint32_t a, uint32_t b) { return TextServices::plainCompare(lowered[a], lowered[b]) < 0; });
  std::vector<uint32_t> rank(lowered.size());
  uint32_t current = 0;
  for (size_t i = 0; i < order.size(); ++i) {
    if (i > 0 && lowered[order[i - 1]] != lowered[order[i]]) ++current;
    rank[order[i]] = current;
  }
  for (uint32_t& r : out) r = rank[r];
  return out;
}

// Whether a card's category is shown "at end" by the packed displays.
bool shownAtEnd(const WindowCard& card, uint32_t packedDisplays) {
  constexpr uint32_t atEnd = static_cast<uint32_t>(AppSettings::CategoryDisplay::atEnd);
  auto byteAtEnd = [&](int byte) { return ((packedDisplays >> (8 * byte)) & 0xFF) == atEnd; };
  switch (card.state) {
    case WindowState::onOtherSpace: return byteAtEnd(0);
    case WindowState::minimized: return byteAtEnd(1);
    case WindowState::hiddenApp: return byteAtEnd(2);
    case WindowState::windowlessApp: return byteAtEnd(3);
    default: return false;
  }
}

// Appends each card of `indices` for which `take` holds, each followed by its tab cards (by use
// when a tab-recency table is given), as addresses; `keys` is scratch room.
template <class Take>
void appendExpanded(std::vector<const WindowCard*>& out, const std::vector<WindowCard>& cards,
                    const std::vector<uint32_t>& indices, Take take, const CardOrdering::TabTable& tabCards,
                    const CardOrdering::TabRecency* tabRecency, std::vector<std::pair<int64_t, uint32_t>>& keys) {
  for (uint32_t i : indices) {
    const WindowCard& card = cards[i];
    if (!take(card)) continue;
    out.push_back(&card);
    if (tabCards.empty()) continue;
    const auto it = tabCards.find(card.id);
    if (it == tabCards.end()) continue;
    const std::vector<WindowCard>& tabs = it->second;
    if (!tabRecency || tabs.size() < 2) {
      for (const WindowCard& tab : tabs) out.push_back(&tab);
      continue;
    }
    // By use, larger first; then the selected tab; then the stored order.
    keys.clear();
    for (size_t t = 0; t < tabs.size(); ++t) {
      const auto tick = tabRecency->find(tabs[t].id);
      keys.emplace_back(tick == tabRecency->end() ? 0 : tick->second, static_cast<uint32_t>(t));
    }
    auto selected = [&](uint32_t t) { return tabs[t].tab && tabs[t].tab->isSelected; };
    std::sort(keys.begin(), keys.end(), [&](const auto& a, const auto& b) {
      if (a.first != b.first) return a.first > b.first;
      if (selected(a.second) != selected(b.second)) return selected(a.second);
      return a.second < b.second;
    });
    for (const auto& key : keys) out.push_back(&tabs[key.second]);
  }
}

// The room the expanded list may need, and the most tabs of one host.
std::pair<size_t, size_t> expandedSize(size_t cards, const CardOrdering::TabTable& tabCards) {
  size_t total = cards, most = 0;
  for (const auto& [host, tabs] : tabCards) {
    total += tabs.size();
    most = std::max(most, tabs.size());
  }
  return {total, most};
}

// Each application's run gathered at the place of its first card, in place.
void gatherRuns(const std::vector<WindowCard>& cards, std::vector<uint32_t>& indices, bool nativeOrder,
                AppSettings::WindowOrder order) {
  const size_t n = indices.size();
  if (n < 2) return;
  struct Item {
    int64_t section;
    int32_t pid;
    uint32_t position;  // in `indices`
    uint32_t run;       // the position of the run's first card
    uint32_t index;     // indices[position]
  };
  std::vector<Item> items(n);
  const std::vector<int32_t> application = ApplicationIdentity::applicationPIDs(cards);
  for (size_t p = 0; p < n; ++p) {
    const WindowCard& card = cards[indices[p]];
    items[p] = Item{order == AppSettings::WindowOrder::bySpace ? CardOrdering::section(card) : 0,
                    application[indices[p]], static_cast<uint32_t>(p), 0, indices[p]};
  }
  std::sort(items.begin(), items.end(), [](const Item& a, const Item& b) {
    if (a.section != b.section) return a.section < b.section;
    if (a.pid != b.pid) return a.pid < b.pid;
    return a.position < b.position;
  });
  for (size_t k = 0; k < n; ++k) {
    const bool sameRun = k > 0 && items[k].section == items[k - 1].section && items[k].pid == items[k - 1].pid;
    items[k].run = sameRun ? items[k - 1].run : items[k].position;
  }
  auto ordering = [&](const Item& item) { return nativeOrder ? cards[item.index].sortKey() : 0u; };
  std::sort(items.begin(), items.end(), [&](const Item& a, const Item& b) {
    if (a.run != b.run) return a.run < b.run;
    if (ordering(a) != ordering(b)) return ordering(a) < ordering(b);
    return a.position < b.position;
  });
  for (size_t k = 0; k < n; ++k) indices[k] = items[k].index;
}

}  // namespace

size_t CardOrdering::GroupingRunHash::operator()(const GroupingRun& run) const {
  const uint64_t a = static_cast<uint64_t>(run.section) * 0x9E3779B97F4A7C15ull;
  const uint64_t b = static_cast<uint64_t>(static_cast<uint32_t>(run.pid));
  return static_cast<size_t>(a ^ (b + 0x632BE59BD9B4E019ull + (a << 6) + (a >> 2)));
}

int64_t CardOrdering::section(const WindowCard& card) {
  switch (card.state) {
    case WindowState::onCurrentSpace: return 0;
    case WindowState::onOtherSpace: return card.spaceNumber ? static_cast<int64_t>(*card.spaceNumber) : kNoRank;
    default: return kNoRank;
  }
}


std::optional<uint32_t> CardOrdering::currentWindow(const std::vector<WindowCard>& cards, const ZOrder& zOrder,
                                                    std::optional<uint32_t> hint,
                                                    const std::optional<WindowFocus>& focus) {
  std::vector<int64_t> z;
  if (!zOrder.empty()) {
    z.reserve(cards.size());
    for (const auto& card : cards) z.push_back(lookup(zOrder, card.id, kNoRank));
  }
  return currentWindowByPosition(cards, z, hint, focus);
}

std::optional<uint32_t> CardOrdering::currentWindowByPosition(const std::vector<WindowCard>& cards,
                                                              std::span<const int64_t> z,
                                                              std::optional<uint32_t> hint,
                                                              const std::optional<WindowFocus>& focus) {
  if (focus) {
    const std::optional<uint32_t> focused = focus->window;
    if (!focused || focused == hint) return std::nullopt;
    const bool onCurrentSpace = std::any_of(cards.begin(), cards.end(), [&](const WindowCard& card) {
      return card.id == *focused && card.state == WindowState::onCurrentSpace;
    });
    return onCurrentSpace ? focused : std::nullopt;
  }
  if (z.empty()) return std::nullopt;
  const WindowCard* best = nullptr;
  int64_t bestKey = kNoRank;
  for (size_t i = 0; i < cards.size(); ++i) {
    if (cards[i].state != WindowState::onCurrentSpace) continue;
    if (!best || z[i] < bestKey) {
      best = &cards[i];
      bestKey = z[i];
    }
  }
  if (!best || bestKey == kNoRank) return std::nullopt;
  if (hint && *hint == best->id) return std::nullopt;
  return best->id;
}

CardOrdering::RankTable CardOrdering::firstIndexTable(const std::vector<uint32_t>& ids) {
  RankTable table;
  table.reserve(ids.size());
  for (size_t i = 0; i < ids.size(); ++i) table.try_emplace(ids[i], static_cast<int64_t>(i));
  return table;
}

CardOrdering::TextRanks CardOrdering::textRanks(const std::vector<WindowCard>& cards, unsigned fields) {
  TextRanks ranks;
  if (fields & kAppNameRank) ranks.appName = standardCompareRanks(cards, &WindowCard::appName);
  if (fields & kTitleRank) ranks.title = standardCompareRanks(cards, &WindowCard::title);
  if (fields & kLowerAppNameRank) ranks.lowerAppName = lowercasedNameRanks(cards);
  return ranks;
}

unsigned CardOrdering::textFieldsFor(WindowOrder order, bool groupByApp) {
  switch (order) {
    case WindowOrder::recent: return kLowerAppNameRank;  // windowless applications go by name
    case WindowOrder::fixed: return groupByApp ? kLowerAppNameRank : 0u;
    case WindowOrder::alphabetical:
    case WindowOrder::bySpace: return kTitleRank | (groupByApp ? kAppNameRank : 0u);
  }
  return 0;
}

void CardOrdering::sortCards(std::vector<WindowCard>& cards, WindowOrder order, const RankTable& ranks,
                             int64_t defaultRank, const ZOrder& zOrder, bool groupByApp) {
  if (cards.size() < 2) return;
  cards = permuted(cards, sortedIndices(cards, order, ranks, defaultRank, zOrder, groupByApp));
}

std::vector<uint32_t> CardOrdering::sortedIndices(const std::vector<WindowCard>& cards, WindowOrder order,
                                                  const RankTable& ranks, int64_t defaultRank, const ZOrder& zOrder,
                                                  bool groupByApp) {
  std::vector<int64_t> rank, z;
  if (order == WindowOrder::recent) {
    rank.reserve(cards.size());
    for (const auto& card : cards) rank.push_back(ranks.empty() ? 0 : lookup(ranks, card.id, defaultRank));
    if (!zOrder.empty()) {
      z.reserve(cards.size());
      for (const auto& card : cards) z.push_back(lookup(zOrder, card.id, defaultRank));
    }
  }
  return sortedIndices(cards, TextRanks{}, order, rank, z, groupByApp);
}

std::vector<uint32_t> CardOrdering::sortedIndices(const std::vector<WindowCard>& cards, const TextRanks& text,
                                                  WindowOrder order, std::span<const int64_t> rank,
                                                  std::span<const int64_t> z, bool groupByApp) {
  const size_t n = cards.size();
  std::vector<uint32_t> indices(n);
  std::iota(indices.begin(), indices.end(), 0u);
  if (n < 2) return indices;

  // The text ranks the order compares; those not given are made here.
  const unsigned needed = textFieldsFor(order, groupByApp);
  unsigned missing = 0;
  if ((needed & kAppNameRank) && text.appName.size() != n) missing |= kAppNameRank;
  if ((needed & kTitleRank) && text.title.size() != n) missing |= kTitleRank;
  if ((needed & kLowerAppNameRank) && text.lowerAppName.size() != n) missing |= kLowerAppNameRank;
  TextRanks made;
  if (missing) made = textRanks(cards, missing);
  const std::vector<uint32_t>& nameRank = (missing & kAppNameRank) ? made.appName : text.appName;
  const std::vector<uint32_t>& titleRank = (missing & kTitleRank) ? made.title : text.title;
  const std::vector<uint32_t>& lowerName = (missing & kLowerAppNameRank) ? made.lowerAppName : text.lowerAppName;

  // Every comparator ends with the card's sort key, then the incoming position: the sorts are stable.
  auto state = [&](uint32_t i) { return static_cast<int>(cards[i].state); };
  auto last = [&](uint32_t a, uint32_t b) {
    if (cards[a].sortKey() != cards[b].sortKey()) return cards[a].sortKey() < cards[b].sortKey();
    return a < b;
  };
  auto alphabetical = [&](uint32_t a, uint32_t b) {
    if (groupByApp && nameRank[a] != nameRank[b]) return nameRank[a] < nameRank[b];
    if (titleRank[a] != titleRank[b]) return titleRank[a] < titleRank[b];
    return last(a, b);
  };

  switch (order) {
    case WindowOrder::recent: {
      const bool useZ = !z.empty();
      std::sort(indices.begin(), indices.end(), [&](uint32_t a, uint32_t b) {
        if (rank[a] != rank[b]) return rank[a] < rank[b];
        if (state(a) != state(b)) return state(a) < state(b);
        if (cards[a].state == WindowState::windowlessApp) {
          if (lowerName[a] != lowerName[b]) return lowerName[a] < lowerName[b];
        } else if (cards[a].state == WindowState::onCurrentSpace && useZ) {
          if (z[a] != z[b]) return z[a] < z[b];
        }
        return last(a, b);
      });
      break;
    }
    case WindowOrder::fixed:
      std::sort(indices.begin(), indices.end(), [&](uint32_t a, uint32_t b) {
        if (state(a) != state(b)) return state(a) < state(b);
        if (groupByApp && lowerName[a] != lowerName[b]) return lowerName[a] < lowerName[b];
        return last(a, b);
      });
      break;
    case WindowOrder::alphabetical:
      std::sort(indices.begin(), indices.end(), alphabetical);
      break;
    case WindowOrder::bySpace:
      std::sort(indices.begin(), indices.end(), [&](uint32_t a, uint32_t b) {
        const int64_t sa = section(cards[a]), sb = section(cards[b]);
        if (sa != sb) return sa < sb;
        if (state(a) != state(b)) return state(a) < state(b);
        return alphabetical(a, b);
      });
      break;
  }
  return indices;
}

std::vector<uint32_t> CardOrdering::gatherAppRuns(const std::vector<WindowCard>& cards,
                                                  const std::vector<uint32_t>& indices, bool nativeOrder,
                                                  WindowOrder order) {
  std::vector<uint32_t> out = indices;
  gatherRuns(cards, out, nativeOrder, order);
  return out;
}

std::vector<uint32_t> CardOrdering::moveCategoriesToEnd(const std::vector<WindowCard>& cards,
                                                        const std::vector<uint32_t>& indices,
                                                        uint32_t packedDisplays) {
  std::vector<uint32_t> out;
  out.reserve(indices.size());
  for (bool moved : {false, true}) {
    for (uint32_t i : indices) {
      if (shownAtEnd(cards[i], packedDisplays) == moved) out.push_back(i);
    }
  }
  return out;
}

std::vector<WindowCard> CardOrdering::gatherAppRuns(std::vector<WindowCard> cards, bool nativeOrder,
                                                    WindowOrder order) {
  std::unordered_map<GroupingRun, size_t, GroupingRunHash> runIndex;
  std::vector<std::vector<WindowCard>> runs;
  const size_t total = cards.size();
  const std::vector<int32_t> application = ApplicationIdentity::applicationPIDs(cards);
  for (size_t i = 0; i < total; ++i) {
    WindowCard& card = cards[i];
    const GroupingRun key{order == WindowOrder::bySpace ? section(card) : 0, application[i]};
    auto [it, inserted] = runIndex.try_emplace(key, runs.size());
    if (inserted) runs.emplace_back();
    runs[it->second].push_back(std::move(card));
  }
  std::vector<WindowCard> out;
  out.reserve(total);
  for (auto& run : runs) {
    if (nativeOrder) {
      std::stable_sort(run.begin(), run.end(),
                       [](const WindowCard& a, const WindowCard& b) { return a.sortKey() < b.sortKey(); });
    }
    for (auto& card : run) out.push_back(std::move(card));
  }
  return out;
}

uint32_t CardOrdering::packCategoryDisplays(AppSettings::CategoryDisplay otherSpaces,
                                            AppSettings::CategoryDisplay minimized,
                                            AppSettings::CategoryDisplay hiddenApps,
                                            AppSettings::CategoryDisplay windowlessApps) {
  return static_cast<uint32_t>(otherSpaces) | (static_cast<uint32_t>(minimized) << 8) |
         (static_cast<uint32_t>(hiddenApps) << 16) | (static_cast<uint32_t>(windowlessApps) << 24);
}

std::vector<WindowCard> CardOrdering::moveCategoriesToEnd(std::vector<WindowCard> cards, uint32_t packedDisplays) {
  constexpr uint32_t atEnd = static_cast<uint32_t>(AppSettings::CategoryDisplay::atEnd);
  auto byteAtEnd = [&](int byte) { return ((packedDisplays >> (8 * byte)) & 0xFF) == atEnd; };
  if (!byteAtEnd(0) && !byteAtEnd(1) && !byteAtEnd(2) && !byteAtEnd(3)) return cards;
  std::vector<WindowCard> kept, moved;
  kept.reserve(cards.size());
  for (auto& card : cards) {
    int byte = -1;
    switch (card.state) {
      case WindowState::onOtherSpace: byte = 0; break;
      case WindowState::minimized: byte = 1; break;
      case WindowState::hiddenApp: byte = 2; break;
      case WindowState::windowlessApp: byte = 3; break;
      default: break;
    }
    if (byte >= 0 && byteAtEnd(byte)) {
      moved.push_back(std::move(card));
    } else {
      kept.push_back(std::move(card));
    }
  }
  for (auto& card : moved) kept.push_back(std::move(card));
  return kept;
}

namespace {

const WindowCard& deref(const WindowCard& card) { return card; }
WindowCard& deref(WindowCard& card) { return card; }

// Appends each card and, after it, its tab cards (by use when a tab-recency table is given). `Take`
// moves or copies one card into the result, or gives its address.
template <class Cards, class Tabs, class Take>
auto expand(Cards& cards, Tabs& tabCards, const CardOrdering::TabRecency* tabRecency, Take take) {
  size_t total = cards.size();
  for (const auto& [host, tabs] : tabCards) total += tabs.size();
  std::vector<decltype(take(deref(cards.front())))> out;
  out.reserve(total);
  std::vector<uint32_t> indices;
  std::vector<int64_t> ticks;
  for (auto& item : cards) {
    auto& card = deref(item);
    const uint32_t id = card.id;
    out.push_back(take(card));
    const auto it = tabCards.find(id);
    if (it == tabCards.end()) continue;
    auto& tabs = it->second;
    if (!tabRecency || tabs.size() < 2) {
      for (auto& tab : tabs) out.push_back(take(tab));
      continue;
    }
    indices.resize(tabs.size());
    std::iota(indices.begin(), indices.end(), 0u);
    ticks.resize(tabs.size());
    for (size_t i = 0; i < tabs.size(); ++i) {
      const auto tick = tabRecency->find(tabs[i].id);
      ticks[i] = tick == tabRecency->end() ? 0 : tick->second;
    }
    auto selected = [&](uint32_t i) { return tabs[i].tab && tabs[i].tab->isSelected; };
    std::stable_sort(indices.begin(), indices.end(), [&](uint32_t a, uint32_t b) {
      if (ticks[a] != ticks[b]) return ticks[a] > ticks[b];
      if (selected(a) != selected(b)) return selected(a);
      return a < b;
    });
    for (uint32_t i : indices) out.push_back(take(tabs[i]));
  }
  return out;
}

}  // namespace

std::vector<WindowCard> CardOrdering::expandingTabCards(const std::vector<WindowCard>& cards, const TabTable& tabCards,
                                                        const TabRecency* tabRecency) {
  if (tabCards.empty()) return cards;
  return expand(cards, tabCards, tabRecency, [](const WindowCard& card) { return card; });
}

std::vector<WindowCard> CardOrdering::expandingTabCards(std::vector<WindowCard>&& cards, TabTable&& tabCards,
                                                        const TabRecency* tabRecency) {
  if (tabCards.empty()) return std::move(cards);
  return expand(cards, tabCards, tabRecency, [](WindowCard& card) { return std::move(card); });
}

std::vector<const WindowCard*> CardOrdering::expandedOrder(const std::vector<WindowCard>& cards,
                                                           const std::vector<uint32_t>& indices,
                                                           const TabTable& tabCards, const TabRecency* tabRecency) {
  const auto [total, most] = expandedSize(indices.size(), tabCards);
  std::vector<const WindowCard*> out;
  out.reserve(total);
  std::vector<std::pair<int64_t, uint32_t>> keys;
  if (tabRecency && most >= 2) keys.reserve(most);
  appendExpanded(out, cards, indices, [](const WindowCard&) { return true; }, tabCards, tabRecency, keys);
  return out;
}

std::vector<const WindowCard*> CardOrdering::summonOrder(const std::vector<WindowCard>& cards, const TextRanks& text,
                                                         std::span<const int64_t> rank, std::span<const int64_t> z,
                                                         const TabTable& tabCards, const TabRecency& tabRecency,
                                                         const SummonSettings& how) {
  std::vector<uint32_t> indices = sortedIndices(cards, text, how.order, rank, z, how.groupByApp);
  if (how.groupByApp) gatherRuns(cards, indices, how.nativeRuns, how.order);
  // The categories shown "at end" are moved as the list is built: the others first, then those.
  const TabRecency* byUse = how.tabsByRecency ? &tabRecency : nullptr;
  const auto [total, most] = expandedSize(indices.size(), tabCards);
  std::vector<const WindowCard*> out;
  out.reserve(total);
  std::vector<std::pair<int64_t, uint32_t>> keys;
  if (byUse && most >= 2) keys.reserve(most);
  const uint32_t packed = how.packedDisplays;
  appendExpanded(out, cards, indices, [&](const WindowCard& c) { return !shownAtEnd(c, packed); }, tabCards, byUse, keys);
  appendExpanded(out, cards, indices, [&](const WindowCard& c) { return shownAtEnd(c, packed); }, tabCards, byUse, keys);
  return out;
}

void CardOrdering::sortByRank(std::vector<WindowCard>& cards, const ZOrder& table) {
  if (table.empty() || cards.size() < 2) return;
  std::vector<int64_t> keys(cards.size());
  for (size_t i = 0; i < cards.size(); ++i) keys[i] = lookup(table, cards[i].id, kNoRank);
  std::vector<uint32_t> indices(cards.size());
  std::iota(indices.begin(), indices.end(), 0u);
  std::stable_sort(indices.begin(), indices.end(), [&](uint32_t a, uint32_t b) { return keys[a] < keys[b]; });
  cards = permuted(cards, indices);
}

}  // namespace quorvel
