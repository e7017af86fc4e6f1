#pragma once

#include <optional>
#include <string>

#include "ax/AXHandle.h"
#include "base/Geometry.h"

namespace quorvel {

// One tab as a walk of its window's tab strip found it.
struct TabRecord {
  AXHandleRef element;                // a fresh wrapper of the tab's own element (the one pressed)
  std::string title;                  // normalised; may be empty
  bool isSelected = false;
  int ordinal = 0;                    // position in the (capped) strip, from 0
  std::optional<Rect> frame;          // screen coordinates, top-left origin
  std::optional<Rect> faviconFrame;   // the tab's site-icon element
};

}  // namespace quorvel
