#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <unordered_map>
#include <vector>

#include "platform/WindowServer.h"
#include "settings/SettingEnums.h"
#include "windows/WindowCard.h"

namespace quorvel {

// The orderings of the card list: which window is the current one, the recency rank table, the main
// comparator of every window order, the gathering of one application's windows into a run, the
// moving of "at end" categories, tab cards after their window, and the stable sort by a rank table.
// All are pure functions of their arguments; they run on copies taken under the registry's lock.
//
// Every sort is stable, and a card's `orderingID` (unsigned) is always the last key.
class CardOrdering {
 public:
  // Window id to a rank (0 first).
  using RankTable = std::unordered_map<uint32_t, int64_t>;
  // Window number to its front-to-back position among the on-screen windows (0 is front-most).
  using ZOrder = std::unordered_map<uint32_t, int>;
  // Host window id to that window's tab cards, in the order the refresh pass stored them.
  using TabTable = std::unordered_map<uint32_t, std::vector<WindowCard>>;
  // Tab card id to the use tick of its last use (larger = used more recently).
  using TabRecency = std::unordered_map<uint32_t, int64_t>;

  static constexpr int64_t kNoRank = std::numeric_limits<int64_t>::max();

  // One application's run: its desktop section (0 unless the order is by desktop) and its process.
  struct GroupingRun {
    int64_t section = 0;
    int32_t pid = 0;
    bool operator==(const GroupingRun&) const = default;
  };
  struct GroupingRunHash {
    size_t operator()(const GroupingRun& run) const;
  };

  // The card's desktop section: 0 on the current desktop, the desktop number on another desktop
  // (kNoRank without one), kNoRank for every other state.
  static int64_t section(const WindowCard& card);

  // The window to credit as visited at a summon: the front-most current-desktop card by the z-order
  // table (the earlier card on equal positions). None when there are no such cards, the table is
  // empty, the best card has no position, or it already heads the recency list (`hint`).
  // Where the platform reports the focus apart from its window list (`focus`), the focused window
  // is the current one, and only while it is a current-desktop card; the z-order is not consulted.
  static std::optional<uint32_t> currentWindow(const std::vector<WindowCard>& cards, const ZOrder& zOrder,
                                               std::optional<uint32_t> hint,
                                               const std::optional<WindowFocus>& focus = std::nullopt);

  // Id to the position of its first occurrence.
  static RankTable firstIndexTable(const std::vector<uint32_t>& ids);

  // Sorts stably by the comparator of the window order.
  static void sortCards(std::vector<WindowCard>& cards, SettingEnums::WindowOrder order, const RankTable& ranks,
                        int64_t defaultRank, const ZOrder& zOrder, bool groupByApp);
  // The order sortCards gives, as indices into `cards` (which stay as they are).
  static std::vector<uint32_t> sortedIndices(const std::vector<WindowCard>& cards, SettingEnums::WindowOrder order,
                                             const RankTable& ranks, int64_t defaultRank, const ZOrder& zOrder,
                                             bool groupByApp);

  // Every application's cards (per desktop section when the order is by desktop) gathered at the
  // place of its first card; with `nativeOrder` each run sorted by `orderingID`.
  static std::vector<WindowCard> gatherAppRuns(std::vector<WindowCard> cards, bool nativeOrder,
                                               SettingEnums::WindowOrder order);
  // The same on an order of indices into `cards`.
  static std::vector<uint32_t> gatherAppRuns(const std::vector<WindowCard>& cards, const std::vector<uint32_t>& indices,
                                             bool nativeOrder, SettingEnums::WindowOrder order);

  // The four category displays as one value: byte 0 other desktops, 1 minimized, 2 hidden
  // applications, 3 windowless applications; each byte the display's raw number.
  static uint32_t packCategoryDisplays(SettingEnums::CategoryDisplay otherSpaces, SettingEnums::CategoryDisplay minimized,
                                       SettingEnums::CategoryDisplay hiddenApps,
                                       SettingEnums::CategoryDisplay windowlessApps);

  // The cards of categories shown "at end" after all others, each group keeping its incoming order.
  static std::vector<WindowCard> moveCategoriesToEnd(std::vector<WindowCard> cards, uint32_t packedDisplays);
  // The same on an order of indices into `cards`.
  static std::vector<uint32_t> moveCategoriesToEnd(const std::vector<WindowCard>& cards,
                                                   const std::vector<uint32_t>& indices, uint32_t packedDisplays);

  // Each card followed by its tab cards. With a tab-recency table, a host's tabs go by last use
  // (missing: 0), larger first, then the selected tab, then their stored order.
  static std::vector<WindowCard> expandingTabCards(const std::vector<WindowCard>& cards, const TabTable& tabCards,
                                                   const TabRecency* tabRecency);
  // The cards in the order of `indices`, each copied once into the list it returns, with its tab
  // cards after it as above.
  static std::vector<WindowCard> expandingTabCards(const std::vector<WindowCard>& cards,
                                                   const std::vector<uint32_t>& indices, const TabTable& tabCards,
                                                   const TabRecency* tabRecency);
  // The same on lists the caller owns: cards and tab cards are moved, not copied.
  static std::vector<WindowCard> expandingTabCards(std::vector<WindowCard>&& cards, TabTable&& tabCards,
                                                   const TabRecency* tabRecency);

  // Sorts stably by the table's value of each id (missing: kNoRank); unchanged for an empty table.
  static void sortByRank(std::vector<WindowCard>& cards, const ZOrder& table);
};

}  // namespace quorvel
