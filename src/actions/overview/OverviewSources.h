#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "base/Geometry.h"
#include "base/Task.h"
#include "pictures/CardPicture.h"
#include "windows/WindowCard.h"

namespace quorvel {

// The window registry as the desktops overview uses it. Main thread.
class OverviewCardSource {
 public:
  virtual ~OverviewCardSource() = default;
  // The registry's cards, each browser window's followed by its tab cards (read under its lock).
  virtual std::vector<WindowCard> cards() = 0;
  // Asks for a full refresh pass after a move and waits for it.
  virtual Task<void> refreshAfterMove() = 0;
};

// The window pictures as the desktops overview uses them. Main thread, apart from the capture,
// which runs where the picture store runs it.
class OverviewPictureSource {
 public:
  virtual ~OverviewPictureSource() = default;
  // A window's picture, marked as presented (kept through trimming); none without one.
  virtual std::optional<CardPicture> entry(uint32_t windowID) = 0;
  // Captures the cards' windows that have no picture yet.
  virtual Task<void> captureMissing(std::vector<WindowCard> cards) = 0;
  virtual void beginPresentation() = 0;
  virtual void endPresentation() = 0;
};

// The overview's window, as its controller drives it. Main thread.
class OverviewWindowHost {
 public:
  virtual ~OverviewWindowHost() = default;
  virtual bool isVisible() const = 0;
  // The view's size in points: the overview's canvas.
  virtual Size canvasSize() const = 0;
  // Puts the window on screen in front and gives it the keyboard.
  virtual void show() = 0;
  virtual void orderOut() = 0;
  // The refusal sound.
  virtual void beep() = 0;
};

}  // namespace quorvel
