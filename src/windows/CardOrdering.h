#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <unordered_map>
#include <vector>

#include "platform/WindowServer.h"
#include "settings/SettingEnums.h"
#include "windows/WindowCard.h"

namespace quorvel {

// The orderings of the card list: which window is the current one, the recency rank table, the main
// comparator of every window order, the gathering of one application's windows into a run, the
// moving of "at end" categories, tab cards after their window, and the stable sort by a rank table.
// All are pure functions of their arguments; they run on copies or immutable lists taken under the
// registry's lock.
//
// Every sort is stable, and a card's sort key (WindowCard::sortKey: its opening order where known,
// else its `orderingID`; unsigned) is always the last key. The text keys (names and titles) are
// compared through their ranks (`TextRanks`), so the text work is done once per list, not once per
// comparison.
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

  // One application's run: its desktop section (0 unless the order is by desktop) and its
  // application (ApplicationIdentity::applicationPIDs).
  struct GroupingRun {
    int64_t section = 0;
    int32_t pid = 0;
    bool operator==(const GroupingRun&) const = default;
  };
  struct GroupingRunHash {
    size_t operator()(const GroupingRun& run) const;
  };

  // Each card's rank of the text fields the orders compare (one entry per card; texts that compare
  // equal share a rank). A field not asked for is left empty.
  struct TextRanks {
    std::vector<uint32_t> appName;       // the localized standard compare of `appName`
    std::vector<uint32_t> title;         // the localized standard compare of `title`
    std::vector<uint32_t> lowerAppName;  // the plain compare of the lower-cased `appName`
  };
  enum TextField : unsigned { kAppNameRank = 1, kTitleRank = 2, kLowerAppNameRank = 4, kAllTextRanks = 7 };

  // What a summon's order reads of the settings.
  struct SummonSettings {
    SettingEnums::WindowOrder order = SettingEnums::WindowOrder::recent;
    bool groupByApp = false;
    bool nativeRuns = false;      // each application's run by sort key (bunched, native stack order)
    uint32_t packedDisplays = 0;  // packCategoryDisplays
    bool tabsByRecency = false;   // each host's tabs by use (bunched tabs, recent stack order)
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
  // The same with each card's z position given (`z[i]`, kNoRank for none; empty without a table).
  static std::optional<uint32_t> currentWindowByPosition(const std::vector<WindowCard>& cards,
                                                         std::span<const int64_t> z, std::optional<uint32_t> hint,
                                                         const std::optional<WindowFocus>& focus = std::nullopt);

  // Id to the position of its first occurrence.
  static RankTable firstIndexTable(const std::vector<uint32_t>& ids);

  // The text ranks of `cards` for the fields named in `fields` (a mask of TextField).
  static TextRanks textRanks(const std::vector<WindowCard>& cards, unsigned fields = kAllTextRanks);
  // The text fields an order compares.
  static unsigned textFieldsFor(SettingEnums::WindowOrder order, bool groupByApp);

  // Sorts stably by the comparator of the window order.
  static void sortCards(std::vector<WindowCard>& cards, SettingEnums::WindowOrder order, const RankTable& ranks,
                        int64_t defaultRank, const ZOrder& zOrder, bool groupByApp);
  // The order sortCards gives, as indices into `cards` (which stay as they are).
  static std::vector<uint32_t> sortedIndices(const std::vector<WindowCard>& cards, SettingEnums::WindowOrder order,
                                             const RankTable& ranks, int64_t defaultRank, const ZOrder& zOrder,
                                             bool groupByApp);
  // The same with each card's recency rank (`rank[i]`) and z position (`z[i]`, kNoRank for none;
  // `z` empty without a z-order table) given, and the text ranks the order compares (a field
  // `text` lacks is ranked here).
  static std::vector<uint32_t> sortedIndices(const std::vector<WindowCard>& cards, const TextRanks& text,
                                             SettingEnums::WindowOrder order, std::span<const int64_t> rank,
                                             std::span<const int64_t> z, bool groupByApp);

  // Every application's cards (per desktop section when the order is by desktop) gathered at the
  // place of its first card; with `nativeOrder` each run sorted by sort key. The processes of
  // one bundle identifier are one application (ApplicationIdentity).
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
  // The same on lists the caller owns: cards and tab cards are moved, not copied.
  static std::vector<WindowCard> expandingTabCards(std::vector<WindowCard>&& cards, TabTable&& tabCards,
                                                   const TabRecency* tabRecency);
  // The cards in the order of `indices`, each followed by its tab cards as above, as addresses into
  // `cards` and `tabCards` (nothing is copied).
  static std::vector<const WindowCard*> expandedOrder(const std::vector<WindowCard>& cards,
                                                      const std::vector<uint32_t>& indices, const TabTable& tabCards,
                                                      const TabRecency* tabRecency);

  // A summon's whole order of a committed list, as addresses into `cards` and `tabCards`: sorted by
  // the window order (sortedIndices, with `rank` and `z` as there), each application's run
  // gathered when grouping, the categories "at end" moved, each card followed by its tab cards
  // (by use when `how.tabsByRecency`).
  static std::vector<const WindowCard*> summonOrder(const std::vector<WindowCard>& cards, const TextRanks& text,
                                                    std::span<const int64_t> rank, std::span<const int64_t> z,
                                                    const TabTable& tabCards, const TabRecency& tabRecency,
                                                    const SummonSettings& how);

  // Sorts stably by the table's value of each id (missing: kNoRank); unchanged for an empty table.
  static void sortByRank(std::vector<WindowCard>& cards, const ZOrder& table);
};

}  // namespace quorvel
