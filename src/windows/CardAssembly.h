#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "windows/CardOrdering.h"
#include "windows/PassSettings.h"
#include "windows/RegistryServices.h"
#include "windows/RegistryState.h"
#include "windows/SnapshotFilter.h"
#include "windows/TabCardStep.h"
#include "windows/WindowCard.h"

namespace quorvel {

// The last step of a refresh pass: carries the cards of hidden applications' windows over while
// the window server stops listing them, adds one card per regular application without windows,
// keeps the focus observer on the applications that have cards, prunes the registry's per-window
// bookkeeping, sorts the cards and commits them, then hands the tab cards to the tab-card sink.
// It also holds the hand-off of pending leave captures, which every pass runs first.
class CardAssembly {
 public:
  using RawWindow = RegistryState::RawWindow;
  using RegularApp = RegistryState::RegularApp;
  // Records a visit of a window (the registry's visit, with its clock and settings) unless another
  // visit was recorded since the head of the recency order was read as `headSeen`.
  using NoteVisit = std::function<void(uint32_t windowID, std::optional<uint32_t> headSeen)>;

  CardAssembly(RegistryState& state, const RegistryServices& services, NoteVisit noteVisit);

  // Gives each window card with a count of tabs out of reach that count.
  static void applyOutOfReach(std::vector<WindowCard>& windowCards,
                              const std::unordered_map<uint32_t, int>& outOfReachCounts);

  void buildCards(std::vector<WindowCard> windowCards, const std::vector<RawWindow>& rawWindows,
                  const SnapshotFilter::Result& filter, TabCardStep::Result tabs, int64_t fingerprint);

  // Under the lock: drops carried cards whose window is listed again, whose application quit or is
  // no longer hidden; carries the window cards of hidden applications that the window server
  // stopped listing; answers the carried cards.
  std::vector<WindowCard> releaseRetainedHidden(const std::unordered_set<uint32_t>& listedIDs,
                                                const std::unordered_set<int32_t>& runningPids,
                                                const std::unordered_set<int32_t>& hiddenPids);

  // One card per regular application that has no card of its own windows, sorted by name.
  static std::vector<WindowCard> windowlessAppCards(const std::vector<RegularApp>& regularApps,
                                                    const std::unordered_set<int32_t>& pidsWithCards,
                                                    const std::unordered_set<std::string>& fullyHiddenBundleIDs,
                                                    int32_t ownPid);

  // Under the lock: forgets the windows that are gone and merges this pass's Accessibility answers;
  // answers the recency rank table.
  CardOrdering::RankTable pruneBookkeeping(const std::unordered_set<uint32_t>& knownIDs,
                                           const std::unordered_set<uint32_t>& listedIDs,
                                           const std::unordered_set<uint32_t>& axNamedNow,
                                           const std::unordered_set<uint32_t>& placedNow,
                                           const SnapshotFilter::AXWindows& axWindowsByID);

  // Hands the pictures of the windows the user left to the leave-capture sink.
  void flushLeaveCaptures();

 private:
  RegistryState& state_;
  const RegistryServices& services_;
  NoteVisit noteVisit_;
};

}  // namespace quorvel
