#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "base/Geometry.h"
#include "windows/IdTable.h"

namespace quorvel {

class WindowServer;

// Readings of the window server's public window and display lists. A failing call gives an empty
// answer, never an error.
class WindowList {
 public:
  explicit WindowList(WindowServer& server) : server_(server) {}

  // Each on-screen window's number mapped to its position from the front (0 is front-most). Entries
  // without a readable number are skipped but still count; a repeated number keeps its later position.
  std::unordered_map<uint32_t, int> zOrderByWindowID() const;
  // The same in an id table, read from the window server's numbers alone.
  IdTable stackingPositions() const;
  // The bounds of each active display in the window server's order, global top-left coordinates.
  std::vector<Rect> activeDisplayBounds() const;

 private:
  WindowServer& server_;
};

}  // namespace quorvel
