#pragma once

#include <memory>
#include <optional>

#include "actions/overview/OverviewViewDelegate.h"

namespace quorvel {

// Turns the overview window's pointer and key events into the five calls of its delegate: a press
// becomes a drag once it has travelled 4 points from where it began; a drag without a press of
// this view is ignored; Escape hides the overview and goes no further, with or without a delegate.
// The delegate is held weakly: calls go to it only while it lives, and the press state changes all
// the same. Main thread.
class OverviewPointer {
 public:
  static constexpr double kDragThreshold = 4;

  void setDelegate(std::weak_ptr<OverviewViewDelegate> delegate) { delegate_ = std::move(delegate); }

  void mouseDown(Point p);
  void mouseDragged(Point p);
  void mouseUp(Point p);
  void mouseMoved(Point p);
  // True when the key was handled here (Escape); other keys go on to whoever comes next.
  bool keyDown(bool isEscape);

  bool isPressed() const { return pressOrigin_.has_value(); }
  bool isDragging() const { return isDragging_; }

 private:
  std::weak_ptr<OverviewViewDelegate> delegate_;
  std::optional<Point> pressOrigin_;
  bool isDragging_ = false;
};

}  // namespace quorvel
