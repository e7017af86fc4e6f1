#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "base/Clock.h"
#include "windows/WindowCard.h"

namespace quorvel {

// The windows the user left whose pictures want refreshing, and the sink that takes them. Keeps
// its own invariants: at most kLimit windows queued, oldest dropped first, none twice, and a window
// queued again only kDebounce after it was last queued. Guarded by the registry's lock.
class LeaveCaptures {
 public:
  using Sink =
      std::function<void(std::vector<WindowCard> cards, std::unordered_map<uint32_t, uint32_t> showingTabByHost,
                         std::unordered_map<uint32_t, uint64_t> visitTicks)>;

  static constexpr size_t kLimit = 8;
  static constexpr Duration kDebounce = std::chrono::seconds(2);

  // The user left the window at `now`.
  void noteLeft(uint32_t id, Instant now);
  // The queued windows, oldest first; the queue is empty after.
  std::vector<uint32_t> takePending();
  const std::vector<uint32_t>& pending() const { return pending_; }
  // Forgets when windows not among `known` were last queued.
  void keepOnly(const std::unordered_set<uint32_t>& known);

  void setSink(Sink sink) { sink_ = std::move(sink); }
  const Sink& sink() const { return sink_; }

 private:
  std::vector<uint32_t> pending_;
  std::unordered_map<uint32_t, Instant> lastQueued_;
  Sink sink_;
};

}  // namespace quorvel
