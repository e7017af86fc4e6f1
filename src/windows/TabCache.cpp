#include "windows/TabCache.h"

#include <utility>

namespace quorvel {

std::optional<TabCache::Entry> TabCache::served(int32_t pid, int64_t fingerprint, bool needsPrivateTitles) const {
  const auto it = entries_.find(pid);
  if (it == entries_.end() || it->second.fingerprint != fingerprint) return std::nullopt;
  if (needsPrivateTitles && !it->second.readPrivateTitles) return std::nullopt;
  return it->second;
}

const TabCache::Entry* TabCache::remembered(int32_t pid) const {
  const auto it = entries_.find(pid);
  return it == entries_.end() ? nullptr : &it->second;
}

void TabCache::record(int32_t pid, std::optional<Entry> entry) {
  if (entry) {
    entries_[pid] = std::move(*entry);
  } else {
    entries_.erase(pid);
  }
}

void TabCache::keepOnly(const std::unordered_set<int32_t>& pids) {
  std::erase_if(entries_, [&](const auto& entry) { return !pids.contains(entry.first); });
}

}  // namespace quorvel
