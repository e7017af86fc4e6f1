#pragma once

#include <cstdint>
#include <vector>

namespace quorvel {

// The planner that keeps the window pictures within a byte budget: which pictures to evict and
// which to demote (replace by a copy a quarter or a sixteenth of their size). A pure function.
class IdleTrim {
 public:
  struct Candidate {
    uint32_t id = 0;
    int64_t bytes = 0;
    int64_t lastPresentedSession = 0;
    bool isIrreplaceable = false;  // cannot be captured again (minimized window or banked tab picture)
    bool isExempt = false;         // a card on the current desktop: never trimmed
    int generation = 0;
    bool isDemotable = false;
  };
  struct Demotion {
    uint32_t id = 0;
    int toGeneration = 0;
    bool operator==(const Demotion&) const = default;
  };
  struct Plan {
    std::vector<Demotion> demotions;
    std::vector<uint32_t> evictions;
    std::vector<uint32_t> irreplaceableEvictions;
    bool stoppedShort = false;  // the total is still above the budget
  };

  // Evicts the replaceable pictures least recently presented first (ties by id); then demotes the
  // demotable irreplaceable ones, in passes, at most to generation 2; then, when allowed, evicts
  // the irreplaceable ones not demoted. Exempt candidates take no part.
  static Plan plan(const std::vector<Candidate>& candidates, int64_t budget, bool mayEvictIrreplaceable);
};

}  // namespace quorvel
