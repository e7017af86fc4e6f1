#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "base/Clock.h"
#include "windows/CardOrdering.h"

namespace quorvel {

// The order in which the user visited windows, most recent first, with a tick per visit. Keeps its
// own invariants: at most kLimit entries, no window twice, ticks counting up by one per visit. A
// plain value guarded by the registry's lock (RegistryState).
class RecencyOrder {
 public:
  struct Entry {
    uint32_t id = 0;
    Instant at{};
  };

  static constexpr size_t kLimit = 64;

  // Moves the window to the front (dropping the oldest entry beyond kLimit) and gives it the next
  // visit tick.
  void visit(uint32_t id, Instant at);
  // Forgets every window not among `known`, with its tick.
  void keepOnly(const std::unordered_set<uint32_t>& known);
  // Forgets the order (the ticks stay).
  void clear() { entries_.clear(); }

  std::optional<uint32_t> head() const;
  // When the most recent visit happened.
  std::optional<Instant> lastVisitAt() const;
  const std::vector<Entry>& entries() const { return entries_; }
  std::vector<uint32_t> ids() const;
  // Each window's place in the order, from 0.
  CardOrdering::RankTable ranks() const;
  uint64_t visitCounter() const { return visitCounter_; }
  const std::unordered_map<uint32_t, uint64_t>& visitTicks() const { return visitTicks_; }

 private:
  std::vector<Entry> entries_;
  uint64_t visitCounter_ = 0;
  std::unordered_map<uint32_t, uint64_t> visitTicks_;
};

}  // namespace quorvel
