#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "windows/WindowCard.h"

namespace quorvel {

// One application as the switcher counts them: a process together with every other process of the
// same bundle identifier. On X11 that is one class of windows: XTerm runs a process per window, and
// its windows are still one application. The one notion behind "only the app you are in", the
// stacks of an application's windows and the runs of its windows when grouping by application.
struct ApplicationIdentity {
  int32_t pid = 0;
  std::optional<std::string> bundleID;  // none, or never empty

  bool contains(const WindowCard& card) const {
    return card.pid == pid || (bundleID && !bundleID->empty() && card.bundleID == bundleID);
  }
  // Each card's application as one process id: that of the first card of the list that belongs to
  // the same application (its own process id for a card without a bundle identifier).
  static std::vector<int32_t> applicationPIDs(const std::vector<WindowCard>& cards);
};

}  // namespace quorvel
