#include "windows/CardOrdering.h"

#include <algorithm>
#include <numeric>
#include <string>
#include <string_view>

#include "base/TextServices.h"
#include "settings/AppSettings.h"

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

// The lower-cased application names of the cards, each distinct name lower-cased once.
std::vector<std::string> lowercasedNames(const std::vector<WindowCard>& cards) {
  std::unordered_map<std::string, std::string> byName;
  std::vector<std::string> out;
  out.reserve(cards.size());
  for (const auto& card : cards) {
    auto it = byName.find(card.appName);
    if (it == byName.end()) it = byName.emplace(card.appName, TextServices::lowercased(card.appName)).first;
    out.push_back(it->second);
  }
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
  if (focus) {
    const std::optional<uint32_t> focused = focus->window;
    if (!focused || focused == hint) return std::nullopt;
    const bool onCurrentSpace = std::any_of(cards.begin(), cards.end(), [&](const WindowCard& card) {
      return card.id == *focused && card.state == WindowState::onCurrentSpace;
    });
    return onCurrentSpace ? focused : std::nullopt;
  }
  const WindowCard* best = nullptr;
  int64_t bestKey = kNoRank;
  for (const auto& card : cards) {
    if (card.state != WindowState::onCurrentSpace) continue;
    const int64_t key = lookup(zOrder, card.id, kNoRank);
    if (!best || key < bestKey) {
      best = &card;
      bestKey = key;
    }
  }
  if (!best || zOrder.empty() || !zOrder.contains(best->id)) return std::nullopt;
  if (hint && *hint == best->id) return std::nullopt;
  return best->id;
}

CardOrdering::RankTable CardOrdering::firstIndexTable(const std::vector<uint32_t>& ids) {
  RankTable table;
  table.reserve(ids.size());
  for (size_t i = 0; i < ids.size(); ++i) table.try_emplace(ids[i], static_cast<int64_t>(i));
  return table;
}

void CardOrdering::sortCards(std::vector<WindowCard>& cards, WindowOrder order, const RankTable& ranks,
                             int64_t defaultRank, const ZOrder& zOrder, bool groupByApp) {
  if (cards.size() < 2) return;
  cards = permuted(cards, sortedIndices(cards, order, ranks, defaultRank, zOrder, groupByApp));
}

std::vector<uint32_t> CardOrdering::sortedIndices(const std::vector<WindowCard>& cards, WindowOrder order,
                                                  const RankTable& ranks, int64_t defaultRank, const ZOrder& zOrder,
                                                  bool groupByApp) {
  const size_t n = cards.size();
  std::vector<uint32_t> indices(n);
  std::iota(indices.begin(), indices.end(), 0u);
  if (n < 2) return indices;

  auto state = [&](uint32_t i) { return static_cast<int>(cards[i].state); };
  auto ordering = [&](uint32_t i) { return cards[i].orderingID; };

  // Names and titles by the localized standard compare, then the ordering id. Each distinct text
  // is ranked once, so the sort itself compares numbers.
  std::vector<uint32_t> nameRank, titleRank;
  if (order == WindowOrder::alphabetical || order == WindowOrder::bySpace) {
    if (groupByApp) nameRank = standardCompareRanks(cards, &WindowCard::appName);
    titleRank = standardCompareRanks(cards, &WindowCard::title);
  }
  auto alphabetical = [&](uint32_t a, uint32_t b) {
    if (groupByApp && nameRank[a] != nameRank[b]) return nameRank[a] < nameRank[b];
    if (titleRank[a] != titleRank[b]) return titleRank[a] < titleRank[b];
    return ordering(a) < ordering(b);
  };

  switch (order) {
    case WindowOrder::recent: {
      std::vector<int64_t> rank(n), z(n);
      for (size_t i = 0; i < n; ++i) {
        rank[i] = ranks.empty() ? 0 : lookup(ranks, cards[i].id, defaultRank);
        z[i] = lookup(zOrder, cards[i].id, defaultRank);
      }
      std::vector<std::string> names;
      const bool anyWindowless = std::any_of(cards.begin(), cards.end(),
                                             [](const WindowCard& c) { return c.state == WindowState::windowlessApp; });
      if (anyWindowless) names = lowercasedNames(cards);
      const bool useZ = !zOrder.empty();
      std::stable_sort(indices.begin(), indices.end(), [&](uint32_t a, uint32_t b) {
        if (rank[a] != rank[b]) return rank[a] < rank[b];
        if (state(a) != state(b)) return state(a) < state(b);
        if (cards[a].state == WindowState::windowlessApp) {
          const int c = TextServices::plainCompare(names[a], names[b]);
          if (c != 0) return c < 0;
        } else if (cards[a].state == WindowState::onCurrentSpace && useZ) {
          if (z[a] != z[b]) return z[a] < z[b];
        }
        return ordering(a) < ordering(b);
      });
      break;
    }
    case WindowOrder::fixed: {
      std::vector<std::string> names;
      if (groupByApp) names = lowercasedNames(cards);
      std::stable_sort(indices.begin(), indices.end(), [&](uint32_t a, uint32_t b) {
        if (state(a) != state(b)) return state(a) < state(b);
        if (groupByApp) {
          const int c = TextServices::plainCompare(names[a], names[b]);
          if (c != 0) return c < 0;
        }
        return ordering(a) < ordering(b);
      });
      break;
    }
    case WindowOrder::alphabetical:
      std::stable_sort(indices.begin(), indices.end(), alphabetical);
      break;
    case WindowOrder::bySpace: {
      std::vector<int64_t> sections(n);
      for (size_t i = 0; i < n; ++i) sections[i] = section(cards[i]);
      std::stable_sort(indices.begin(), indices.end(), [&](uint32_t a, uint32_t b) {
        if (sections[a] != sections[b]) return sections[a] < sections[b];
        if (state(a) != state(b)) return state(a) < state(b);
        return alphabetical(a, b);
      });
      break;
    }
  }
  return indices;
}

std::vector<uint32_t> CardOrdering::gatherAppRuns(const std::vector<WindowCard>& cards,
                                                  const std::vector<uint32_t>& indices, bool nativeOrder,
                                                  WindowOrder order) {
  std::unordered_map<GroupingRun, size_t, GroupingRunHash> runIndex;
  std::vector<std::vector<uint32_t>> runs;
  for (uint32_t i : indices) {
    const GroupingRun key{order == WindowOrder::bySpace ? section(cards[i]) : 0, cards[i].pid};
    auto [it, inserted] = runIndex.try_emplace(key, runs.size());
    if (inserted) runs.emplace_back();
    runs[it->second].push_back(i);
  }
  std::vector<uint32_t> out;
  out.reserve(indices.size());
  for (auto& run : runs) {
    if (nativeOrder) {
      std::stable_sort(run.begin(), run.end(),
                       [&](uint32_t a, uint32_t b) { return cards[a].orderingID < cards[b].orderingID; });
    }
    out.insert(out.end(), run.begin(), run.end());
  }
  return out;
}

std::vector<uint32_t> CardOrdering::moveCategoriesToEnd(const std::vector<WindowCard>& cards,
                                                        const std::vector<uint32_t>& indices,
                                                        uint32_t packedDisplays) {
  constexpr uint32_t atEnd = static_cast<uint32_t>(AppSettings::CategoryDisplay::atEnd);
  auto byteAtEnd = [&](int byte) { return ((packedDisplays >> (8 * byte)) & 0xFF) == atEnd; };
  if (!byteAtEnd(0) && !byteAtEnd(1) && !byteAtEnd(2) && !byteAtEnd(3)) return indices;
  std::vector<uint32_t> kept, moved;
  kept.reserve(indices.size());
  for (uint32_t i : indices) {
    int byte = -1;
    switch (cards[i].state) {
      case WindowState::onOtherSpace: byte = 0; break;
      case WindowState::minimized: byte = 1; break;
      case WindowState::hiddenApp: byte = 2; break;
      case WindowState::windowlessApp: byte = 3; break;
      default: break;
    }
    (byte >= 0 && byteAtEnd(byte) ? moved : kept).push_back(i);
  }
  kept.insert(kept.end(), moved.begin(), moved.end());
  return kept;
}

std::vector<WindowCard> CardOrdering::gatherAppRuns(std::vector<WindowCard> cards, bool nativeOrder,
                                                    WindowOrder order) {
  std::unordered_map<GroupingRun, size_t, GroupingRunHash> runIndex;
  std::vector<std::vector<WindowCard>> runs;
  const size_t total = cards.size();
  for (auto& card : cards) {
    const GroupingRun key{order == WindowOrder::bySpace ? section(card) : 0, card.pid};
    auto [it, inserted] = runIndex.try_emplace(key, runs.size());
    if (inserted) runs.emplace_back();
    runs[it->second].push_back(std::move(card));
  }
  std::vector<WindowCard> out;
  out.reserve(total);
  for (auto& run : runs) {
    if (nativeOrder) {
      std::stable_sort(run.begin(), run.end(),
                       [](const WindowCard& a, const WindowCard& b) { return a.orderingID < b.orderingID; });
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
const WindowCard& deref(const WindowCard* card) { return *card; }

// Appends each card and, after it, its tab cards (by use when a tab-recency table is given). `Take`
// moves or copies one card into the result.
template <class Cards, class Tabs, class Take>
std::vector<WindowCard> expand(Cards& cards, Tabs& tabCards, const CardOrdering::TabRecency* tabRecency, Take take) {
  size_t total = cards.size();
  for (const auto& [host, tabs] : tabCards) total += tabs.size();
  std::vector<WindowCard> out;
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
    indices.resize(tabs.size());
    std::iota(indices.begin(), indices.end(), 0u);
    if (tabRecency && tabs.size() >= 2) {
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
    }
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

std::vector<WindowCard> CardOrdering::expandingTabCards(const std::vector<WindowCard>& cards,
                                                        const std::vector<uint32_t>& indices, const TabTable& tabCards,
                                                        const TabRecency* tabRecency) {
  std::vector<const WindowCard*> ordered;
  ordered.reserve(indices.size());
  for (uint32_t i : indices) ordered.push_back(&cards[i]);
  return expand(ordered, tabCards, tabRecency, [](const WindowCard& card) { return card; });
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
