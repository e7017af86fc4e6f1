#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace quorvel {

// The next process id after `previous` among the candidates in ascending order, wrapping round to
// the smallest; the smallest without a previous one; none without candidates.
std::optional<int32_t> roundRobinNext(std::optional<int32_t> previous, const std::vector<int32_t>& candidates);

}  // namespace quorvel
