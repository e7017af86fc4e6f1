#include "windows/LeaveCaptures.h"

#include <algorithm>
#include <utility>

namespace quorvel {

void LeaveCaptures::noteLeft(uint32_t id, Instant now) {
  const auto last = lastQueued_.find(id);
  if (last != lastQueued_.end() && now - last->second < kDebounce) return;
  lastQueued_[id] = now;
  std::erase(pending_, id);
  pending_.push_back(id);
  if (pending_.size() > kLimit) pending_.erase(pending_.begin(), pending_.end() - kLimit);
}

std::vector<uint32_t> LeaveCaptures::takePending() { return std::exchange(pending_, {}); }

void LeaveCaptures::keepOnly(const std::unordered_set<uint32_t>& known) {
  std::erase_if(lastQueued_, [&](const auto& entry) { return !known.contains(entry.first); });
}

}  // namespace quorvel
