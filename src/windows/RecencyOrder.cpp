#include "windows/RecencyOrder.h"

#include <algorithm>

namespace quorvel {

void RecencyOrder::visit(uint32_t id, Instant at) {
  std::erase_if(entries_, [&](const Entry& entry) { return entry.id == id; });
  entries_.insert(entries_.begin(), Entry{id, at});
  if (entries_.size() > kLimit) entries_.resize(kLimit);
  visitCounter_ += 1;
  visitTicks_[id] = visitCounter_;
}

void RecencyOrder::keepOnly(const std::unordered_set<uint32_t>& known) {
  std::erase_if(entries_, [&](const Entry& entry) { return !known.contains(entry.id); });
  std::erase_if(visitTicks_, [&](const auto& entry) { return !known.contains(entry.first); });
}

std::optional<uint32_t> RecencyOrder::head() const {
  if (entries_.empty()) return std::nullopt;
  return entries_.front().id;
}

std::optional<Instant> RecencyOrder::lastVisitAt() const {
  if (entries_.empty()) return std::nullopt;
  return entries_.front().at;
}

std::vector<uint32_t> RecencyOrder::ids() const {
  std::vector<uint32_t> ids;
  ids.reserve(entries_.size());
  for (const Entry& entry : entries_) ids.push_back(entry.id);
  return ids;
}

CardOrdering::RankTable RecencyOrder::ranks() const {
  CardOrdering::RankTable ranks;
  ranks.reserve(entries_.size());
  for (size_t i = 0; i < entries_.size(); ++i) ranks.try_emplace(entries_[i].id, static_cast<int64_t>(i));
  return ranks;
}

}  // namespace quorvel
