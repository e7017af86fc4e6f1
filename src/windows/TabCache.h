#pragma once

#include <cstdint>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "windows/CardOrdering.h"

namespace quorvel {

// Each browser's tab cards as its last cacheable walk left them, so that a browser whose windows
// and titles did not change is not walked again. Keeps its own rule: an entry serves a pass only
// for the same title fingerprint, and only when it read the private-window titles that pass needs.
// Guarded by the registry's lock.
class TabCache {
 public:
  struct Entry {
    int64_t fingerprint = 0;
    CardOrdering::TabTable tabsByHost;
    std::unordered_map<uint32_t, uint32_t> showingByHost;
    std::unordered_set<uint32_t> outOfReach;
    bool readPrivateTitles = false;
  };

  // The entry that may stand for a fresh walk of the process's windows.
  std::optional<Entry> served(int32_t pid, int64_t fingerprint, bool needsPrivateTitles) const;
  // The process's entry, whatever it was read for (hosts whose walk failed keep its tabs).
  const Entry* remembered(int32_t pid) const;
  // Keeps the walk's answer when it may be kept, else forgets the process.
  void record(int32_t pid, std::optional<Entry> entry);
  // Forgets every process not among `pids`, or all of them.
  void keepOnly(const std::unordered_set<int32_t>& pids);
  void clear() { entries_.clear(); }

  bool empty() const { return entries_.empty(); }
  const Entry& at(int32_t pid) const { return entries_.at(pid); }

 private:
  std::unordered_map<int32_t, Entry> entries_;
};

}  // namespace quorvel
