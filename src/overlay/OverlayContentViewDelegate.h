#pragma once

#include <string>

#include "base/Geometry.h"

namespace quorvel {

class OverlayContentView;

// How the overlay's content view reaches the overlay controller. Every call is synchronous, on the
// main thread, inside the event that caused it. Pointer operations take a point in the coordinates
// of the content view's host surface and that surface's size, which the scene's hit test needs.
class OverlayContentViewDelegate {
 public:
  virtual ~OverlayContentViewDelegate() = default;
  // Escape or the cancel key while not searching: back to the application that was in front.
  virtual void cancel() = 0;
  virtual void commitSelection() = 0;
  virtual void step(int by) = 0;
  // 0 left, 1 right, 2 up, 3 down.
  virtual void move(int direction) = 0;
  // 0 close, 1 minimize.
  virtual void windowAction(int kind) = 0;
  virtual void setSearching(bool searching) = 0;
  virtual void insertSearchText(const std::string& text) = 0;
  virtual void deleteBackward() = 0;
  virtual void deleteForward() = 0;
  virtual void setSearchCaret(OverlayContentView& view, int index) = 0;
  virtual void scroll(double units) = 0;
  virtual void flipStack(double units) = 0;
  virtual void endScroll(double velocity) = 0;
  virtual void endFlip(double velocity) = 0;
  virtual void click(Point point, Size size) = 0;
  virtual void middleClick(Point point, Size size) = 0;
  virtual void hover(Point point, Size size) = 0;
  // True when the selection changed.
  virtual bool hoverSelect(Point point, Size size) = 0;
  virtual void dragEntered() = 0;
  // True when the drag is over a card.
  virtual bool dragUpdate(Point point, Size size) = 0;
  virtual void dragExited() = 0;
  virtual void drop(Point point, Size size) = 0;
  virtual void geometryChanged(OverlayContentView& view) = 0;
};

}  // namespace quorvel
