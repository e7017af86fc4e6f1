#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "base/Geometry.h"
#include "platform/WindowServer.h"
#include "windows/RegistryState.h"

namespace quorvel {

// The fingerprints that let a refresh pass, and its per-application caches, see that nothing
// changed. They use the process-seeded hasher, so they are compared only within one run.
class WindowFingerprints {
 public:
  using RawWindow = RegistryState::RawWindow;

  // Equal frames when fractions of a point are ignored: x, y, width and height each truncated toward
  // zero (0 when a value does not fit an integer) and compared as stored.
  static bool sameIntegerFrame(const Rect& a, const Rect& b);

  // The window list of one pass (front to back): every entry on layer 0 with its number, owner,
  // integer bounds, name and on-screen flag. An unavailable list gives the "unavailable" value.
  static int64_t windowList(const std::optional<std::vector<WindowListEntry>>& entries);
  // One application's shareable windows, by id: id, on-screen flag and integer frame.
  static int64_t windowSubFingerprint(std::vector<const RawWindow*> windows);
  // The same with each window's title: the key of the tab and title caches.
  static int64_t titleFingerprint(std::vector<const RawWindow*> windows);
};

}  // namespace quorvel
