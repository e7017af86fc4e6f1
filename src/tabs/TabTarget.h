#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "ax/AXHandle.h"
#include "base/Geometry.h"

namespace quorvel {

// What bringing a tab forward needs to know of a tab card: its application, its host window and
// the tab facts the card was built from. A plain value; the window model makes one from a tab card
// (WindowCard::tabTarget), so the tab code never needs the card model.
struct TabTarget {
  int32_t pid = 0;
  std::optional<std::string> bundleID;
  std::string title;      // the tab's title as the card shows it; may be empty
  Rect hostFrame;         // the host window's frame, global top-left coordinates
  AXHandleRef hostWindow; // the host window's element, when known
  AXHandleRef element;    // the tab's own element, when known
  int ordinal = 0;        // position in the tab strip, from 0
  int stripCount = 0;     // number of tabs in that strip
};

}  // namespace quorvel
