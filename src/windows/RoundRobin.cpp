#include "windows/RoundRobin.h"

#include <algorithm>

namespace quorvel {

std::optional<int32_t> roundRobinNext(std::optional<int32_t> previous, const std::vector<int32_t>& candidates) {
  if (candidates.empty()) return std::nullopt;
  const int32_t smallest = *std::min_element(candidates.begin(), candidates.end());
  if (!previous) return smallest;
  std::optional<int32_t> next;
  for (int32_t candidate : candidates) {
    if (candidate > *previous && (!next || candidate < *next)) next = candidate;
  }
  return next ? next : smallest;
}

}  // namespace quorvel
