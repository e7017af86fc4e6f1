#pragma once

#include <cstdint>

namespace quorvel {

// Lets the display-link tick skip drawing while the scene is at rest and nothing has changed since
// the last drawn frame (the scene wake revision is the one last seen). Render thread only.
struct RestGate {
  uint64_t seen = 0;  // wake revision of the last drawn frame
  bool hasDrawn = false;
  bool isEnabled = true;
  int heldInARow = 0;
  int heldTotal = 0;

  // True to skip this frame; otherwise records the revision as drawn.
  bool shouldHold(bool atRest, uint64_t revision) {
    if (isEnabled && hasDrawn && atRest && revision == seen) {
      ++heldInARow;
      ++heldTotal;
      return true;
    }
    seen = revision;
    hasDrawn = true;
    heldInARow = 0;
    return false;
  }
  // The frame let through was not drawn after all (no drawable to draw it into): the next one is
  // drawn, also when the scene came to rest with this one.
  void undrawn() { hasDrawn = false; }
};

}  // namespace quorvel
