#pragma once

#include <functional>
#include <optional>

#include "base/Executor.h"
#include "overlay/OverlayInputEvent.h"

namespace quorvel {

// Gives phases to scrolls that arrive without them (most X11 devices: wheel clicks and the smooth
// scroll of touchpads through XInput 2 both come as bare deltas), so that the content view sees
// gestures as a trackpad reports them.
//
// The decision: a scroll after at least 100 ms of silence begins a gesture ("began"); later ones
// within 100 ms of the previous continue it ("changed"); 100 ms after the last one the gesture ends
// ("ended", no delta). The ending carries the timestamp of the last scroll, not the time it is
// delivered, so the flick velocity is measured at the last event: a fast swipe still flicks, while
// the 100 ms wait itself does not count as the finger resting. Without this, every bare event would
// be a wheel step of its own (its axis claimed alone, its release velocity 0), and a touchpad swipe
// could never flick. Scrolls that already carry phases, and momentum events, pass through untouched.
//
// Main thread only; the ending is a delayed job on the main queue, cancelled by the next scroll or
// by reset().
class ScrollPhaseSynthesizer {
 public:
  static constexpr double kSilence = 0.1;

  ScrollPhaseSynthesizer(Executor& main, std::function<void(const OverlayScrollEvent&)> deliver);
  ~ScrollPhaseSynthesizer();
  ScrollPhaseSynthesizer(const ScrollPhaseSynthesizer&) = delete;
  ScrollPhaseSynthesizer& operator=(const ScrollPhaseSynthesizer&) = delete;

  void feed(const OverlayScrollEvent& event);
  // Drops an open gesture without ending it (the overlay went away).
  void reset();
  bool gestureOpen() const { return lastTime_.has_value(); }

 private:
  void end();

  Executor& main_;
  std::function<void(const OverlayScrollEvent&)> deliver_;
  std::optional<double> lastTime_;
  std::optional<TimerId> endTimer_;
};

}  // namespace quorvel
