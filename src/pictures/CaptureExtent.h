#pragma once

#include <optional>

#include "base/Geometry.h"

namespace quorvel {

// The rectangle of a texture, in unit coordinates of the texture (0 to 1 on both axes, origin at
// its first row and column), that holds a card's content. The whole picture is (0, 0, 1, 1).
struct CaptureExtent {
  double originX = 0, originY = 0, width = 1, height = 1;
  bool operator==(const CaptureExtent&) const = default;

  // The part of a live picture of a whole window that shows one card's region (a tab's part of a
  // browser window). `windowFrame` and `region` are in the coordinate space of the shareable-
  // content list; `unitWidth` and `unitHeight` are the usable part of the live picture; `content`
  // is the live frame's content rectangle. None unless the content has the window's shape and not
  // the region's, and the region lies within the window (one point of slack on each side).
  static std::optional<CaptureExtent> liveCropExtent(const std::optional<Rect>& windowFrame,
                                                     const std::optional<Rect>& region, double unitWidth,
                                                     double unitHeight, const Rect& content);
};

}  // namespace quorvel
