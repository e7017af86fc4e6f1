#include "windows/ApplicationIdentity.h"

#include <unordered_map>

namespace quorvel {

std::vector<int32_t> ApplicationIdentity::applicationPIDs(const std::vector<WindowCard>& cards) {
  std::unordered_map<std::string, int32_t> first;
  std::vector<int32_t> out;
  out.reserve(cards.size());
  for (const WindowCard& card : cards) {
    if (!card.bundleID || card.bundleID->empty()) {
      out.push_back(card.pid);
      continue;
    }
    out.push_back(first.try_emplace(*card.bundleID, card.pid).first->second);
  }
  return out;
}

}  // namespace quorvel
