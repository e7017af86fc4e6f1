#pragma once

#include "base/Geometry.h"

namespace quorvel {

// What the overview's view reports to its controller, in view points (origin top left, y down).
// Main thread.
class OverviewViewDelegate {
 public:
  virtual ~OverviewViewDelegate() = default;
  virtual void beginDrag(Point at) = 0;                         // a press
  virtual void dragMoved(Point to) = 0;                         // a press that travelled 4 points or more
  virtual void pointerReleased(Point at, bool wasDragging) = 0;  // the release of a press
  virtual void pointerMoved(Point to) = 0;                      // a move with no button held
  virtual void hide() = 0;                                      // Escape
};

}  // namespace quorvel
