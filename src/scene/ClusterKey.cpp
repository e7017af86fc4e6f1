#include "scene/ClusterKey.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "pictures/CardLabelCache.h"
#include "windows/Hasher.h"

namespace quorvel {

size_t ClusterKey::hashValue() const {
  Hasher hasher;
  hasher.combine(static_cast<uint64_t>(kind_));
  if (kind_ != Kind::alone) hasher.combine(value_);
  return static_cast<size_t>(hasher.finalize());
}

std::vector<std::optional<uint32_t>> ClusterKey::tabPileKeys(const std::vector<std::optional<uint32_t>>& hostIDs,
                                                              const std::vector<uint32_t>& windowIDs,
                                                              bool keepWindowCardBesideTabs) {
  if (hostIDs.size() != windowIDs.size() || keepWindowCardBesideTabs) return hostIDs;
  std::vector<std::optional<uint32_t>> keys = hostIDs;
  for (size_t i = 0; i + 1 < hostIDs.size(); ++i) {
    if (!hostIDs[i] && hostIDs[i + 1] && *hostIDs[i + 1] == windowIDs[i]) keys[i] = windowIDs[i];
  }
  return keys;
}

std::vector<bool> ClusterKey::pileVisibility(const std::vector<std::optional<uint32_t>>& keys, bool bunching,
                                             float cap) {
  std::vector<bool> shown(keys.size(), true);
  if (!bunching) return shown;
  const float safeCap = std::isfinite(cap) ? std::max(cap, 0.0f) : 0.0f;
  // Caps beyond any list length keep everything; the limit stays well inside int range.
  const int64_t limit = static_cast<int64_t>(std::floor(2.0 * std::min(safeCap, 1e9f))) + 2;
  int64_t run = 0;
  for (size_t i = 0; i < keys.size(); ++i) {
    if (!keys[i]) continue;
    if (i > 0 && keys[i - 1] && *keys[i - 1] == *keys[i]) {
      ++run;
      shown[i] = run < limit;
    } else {
      run = 0;
    }
  }
  return shown;
}

std::string ClusterKey::countLabel(int64_t n) { return CardLabelCache::countLabel(n); }

}  // namespace quorvel
