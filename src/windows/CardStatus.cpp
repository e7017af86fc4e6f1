#include "windows/CardStatus.h"

#include "windows/Hasher.h"

namespace quorvel {

void CardStatus::hash(Hasher& hasher) const {
  hasher.combine(static_cast<uint64_t>(state));
  if (spaceNumber) {
    hasher.combine(uint64_t{1});
    hasher.combine(static_cast<int64_t>(*spaceNumber));
  } else {
    hasher.combine(uint64_t{0});
  }
  hasher.combine(isFullscreenSpace);
  hasher.combine(isTab);
}

size_t CardStatus::hashValue() const {
  Hasher hasher;
  hash(hasher);
  return static_cast<size_t>(hasher.finalize());
}

}  // namespace quorvel
