#pragma once

#include <cstdint>
#include <functional>
#include <unordered_map>
#include <vector>

#include "windows/WindowCard.h"

namespace quorvel {

// What the overlay controller reads of the window registry (and of the window server's stacking):
// the card list of one summon with its current and previous positions, the browser tables the
// picture captures take, the expanded card list the pre-warm reads, a refresh pass on request and
// the stacking order the quick flip sorts by. Main thread only; each call takes the registry's
// lock itself, for one read, and never across a wait.
class OverlayCardSource {
 public:
  // The ordered card list of one summon: currentIndex is the card of the most recent window,
  // previousIndex the one used before it (equal to currentIndex when that card is not listed);
  // both 0 for an empty list.
  struct SummonList {
    std::vector<WindowCard> cards;
    int currentIndex = 0;
    int previousIndex = 0;
  };

  virtual ~OverlayCardSource() = default;
  virtual SummonList cardsForSummon() = 0;
  // Host window id to the id of the tab it shows.
  virtual std::unordered_map<uint32_t, uint32_t> showingTabByHost() = 0;
  // Window id to its last visit tick (larger is more recent; 0 or missing: never visited).
  virtual std::unordered_map<uint32_t, uint64_t> visitTicks() = 0;
  // The registry's cards with each browser window's card followed or replaced by its tab cards.
  virtual std::vector<WindowCard> expandedCards() = 0;
  // Asks for a refresh pass (joining a running one); `done` runs on the main queue once it ended.
  virtual void requestRefresh(std::function<void()> done) = 0;
  // Window id to front-to-back position (0 frontmost) of the on-screen windows; empty when the
  // window server gives no list.
  virtual std::unordered_map<uint32_t, int> zOrderByWindowID() = 0;
};

}  // namespace quorvel
