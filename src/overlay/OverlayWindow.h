#pragma once

#include <functional>

#include "base/Geometry.h"

namespace quorvel {

class OverlayContentView;

// One display's overlay window, as the overlay controller drives it: it covers its screen, floats
// above every other window on every desktop, is see-through where nothing is drawn, casts no shadow
// and opens without an animation. It is made hidden, shown and made key at a summon, made
// click-through while it fades out, ordered out at the end of a dismissal, and kept for reuse.
// Its content view receives its keys, pointer and scrolls. Main thread only.
class OverlayWindow {
 public:
  virtual ~OverlayWindow() = default;

  // The screen frame the window covers (points, the display service's coordinates).
  virtual Rect frame() const = 0;
  virtual double backingScale() const = 0;
  // The window system's number of the window (above 0 once made).
  virtual int windowNumber() const = 0;

  // The view that receives the window's input; none detaches it.
  virtual void setContentView(OverlayContentView* view) = 0;
  // Maps the window above everything else.
  virtual void show() = 0;
  // Gives the window the keyboard.
  virtual void makeKey() = 0;
  virtual bool isKey() = 0;
  virtual void orderOut() = 0;
  virtual bool isVisible() const = 0;
  // While on, every click and move goes through the window to what lies under it.
  virtual void setClickThrough(bool on) = 0;
  // The window's opacity, 0 to 1 (the fade-in of a summon, the fade-out of a dismissal).
  virtual void setAlpha(double alpha) { alpha_ = alpha; }
  double alpha() const { return alpha_; }
  // Keeps the window out of other programs' screen captures where the window system can.
  virtual void setHiddenFromScreenSharing(bool hidden) = 0;

  // Whether the window system blurs what lies behind a window on request.
  virtual bool blurAvailable() = 0;
  // Asks for a blur of `radius` (0 removes it); true when the request was made.
  virtual bool setBackgroundBlur(int radius) = 0;

  // Delivers the input that has arrived to the content view; false once the window system is gone.
  virtual bool dispatchEvents() = 0;
  // Delivers every input event the window system sent the window before this call, asking the
  // window system once when events may still be on their way, so that input that reached the
  // program by another road (the global shortcut's key stream) acts after the keys typed before
  // it. False once the window system is gone.
  virtual bool catchUpInput() { return dispatchEvents(); }

  // Called from dispatchEvents() when the window gains (true) or loses (false) the keyboard, so the
  // controller can publish the keyboard state again.
  std::function<void(bool)> onKeyStatusChange;

 protected:
  double alpha_ = 1;
};

}  // namespace quorvel
