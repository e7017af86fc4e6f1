#include "actions/overview/OverviewPointer.h"

#include <cmath>

namespace quorvel {

void OverviewPointer::mouseDown(Point p) {
  pressOrigin_ = p;
  isDragging_ = false;
  if (auto d = delegate_.lock()) d->beginDrag(p);
}

void OverviewPointer::mouseDragged(Point p) {
  if (!pressOrigin_) return;
  if (!isDragging_ && std::hypot(p.x - pressOrigin_->x, p.y - pressOrigin_->y) >= kDragThreshold) isDragging_ = true;
  if (!isDragging_) return;
  if (auto d = delegate_.lock()) d->dragMoved(p);
}

void OverviewPointer::mouseUp(Point p) {
  if (!pressOrigin_) return;
  const bool wasDragging = isDragging_;
  pressOrigin_.reset();
  isDragging_ = false;
  if (auto d = delegate_.lock()) d->pointerReleased(p, wasDragging);
}

void OverviewPointer::mouseMoved(Point p) {
  if (auto d = delegate_.lock()) d->pointerMoved(p);
}

bool OverviewPointer::keyDown(bool isEscape) {
  if (!isEscape) return false;
  if (auto d = delegate_.lock()) d->hide();
  return true;
}

}  // namespace quorvel
