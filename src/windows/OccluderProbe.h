#pragma once

#include <cstdint>

#include "base/Geometry.h"

namespace quorvel {

// One on-screen window as the public window list describes it; the overlay keeps these.
struct OccluderProbe {
  uint32_t id = 0;
  int64_t layer = 0;  // 0 for normal windows
  int32_t pid = 0;
  Rect frame;         // global top-left coordinates

  bool operator==(const OccluderProbe&) const = default;
};

}  // namespace quorvel
