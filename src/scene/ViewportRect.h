#pragma once

#include <cfloat>
#include <cmath>

#include "scene/SceneMath.h"

namespace quorvel {

// A rectangle in fractions of the viewport (origin at the top left, y down): where a card's window
// sits on the overlay, for the fly-in and fly-out. All zero when the window's place is unknown.
struct ViewportRect {
  Float2 origin;
  Float2 size;

  bool operator==(const ViewportRect&) const = default;

  // Usable for a flight: origin and size finite, width above 0, height a positive normal number.
  bool isUsable() const {
    return std::isfinite(origin.x) && std::isfinite(origin.y) && std::isfinite(size.x) && std::isfinite(size.y) &&
           size.x > 0 && size.y >= FLT_MIN;
  }
};

}  // namespace quorvel
