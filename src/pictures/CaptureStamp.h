#pragma once

#include <cstdint>
#include <unordered_map>

#include "windows/WindowCard.h"

namespace quorvel {

// What a window looked like when its still was taken (`key`, compared only within one run) and the
// capture side's counter value that came with it (`visit`). A plain value.
struct CaptureStamp {
  int64_t key = 0;
  int64_t visit = 0;
  bool operator==(const CaptureStamp&) const = default;

  // The stamp of a card now: the key changes when the window moves or resizes by a whole point, is
  // retitled, changes state or blur, or when `shownTabs`' value for it is added, removed or
  // changed; `visit` is `visits`' value for the card (0 without one).
  static CaptureStamp fingerprint(const WindowCard& card, const std::unordered_map<uint32_t, uint32_t>& shownTabs,
                                  const std::unordered_map<uint32_t, int64_t>& visits);
};

}  // namespace quorvel
