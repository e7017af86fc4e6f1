#pragma once

#include <optional>

#include "base/Geometry.h"

namespace quorvel {

// Where a tab's site icon lies inside its host window's picture, as a rectangle in unit coordinates
// of the host frame. Both frames are global top-left rectangles. The crop is a square of 12 to 20
// points centred on the icon; there is none when either frame is empty, when the square reaches
// past the host frame, or when its centre lies below the top 15 % of the host window.
std::optional<Rect> faviconCropRect(const Rect& hostFrame, const Rect& iconFrame);

}  // namespace quorvel
