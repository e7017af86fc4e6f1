#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "base/Geometry.h"
#include "platform/Displays.h"
#include "platform/Workspace.h"

namespace quorvel {

class OverlayWindow;

// The operating-system side of the overlay controller: screens and the pointer, the front
// application and its front window, activation, motion and capture preferences, and the making of
// one overlay window per screen. Screen frames and the pointer are in the display service's
// coordinates (bottom-left origin of the main screen, y up); window bounds are global top-left.
// Main thread only.
class OverlayDesktop {
 public:
  virtual ~OverlayDesktop() = default;
  virtual std::vector<ScreenInfo> screens() = 0;
  virtual std::optional<Point> pointerLocation() = 0;
  virtual std::optional<RunningApplication> frontmostApplication() = 0;
  // Brings another application forward (not all its windows).
  virtual bool activateApplication(int32_t pid) = 0;
  // Makes this program the active application, ignoring the others.
  virtual void activateSelf() = 0;
  virtual bool applicationIsActive() = 0;
  // The bounds of the application's front window on screen (layer 0, larger than 1 × 1).
  virtual std::optional<Rect> frontWindowBounds(int32_t pid) = 0;
  // Whether the screen is the computer's own (a laptop's panel).
  virtual bool isBuiltIn(const ScreenInfo& screen) = 0;
  // The screen's highest frame rate; 0 when unknown.
  virtual double maximumFramesPerSecond(const ScreenInfo& screen) = 0;
  // Mouse buttons held now (bit 0 the primary button).
  virtual uint32_t pressedMouseButtons() = 0;
  virtual bool reduceMotion() = 0;
  // Screen Recording: granted now, and as sampled at launch (none: not sampled).
  virtual bool screenCaptureGranted() = 0;
  virtual std::optional<bool> screenCaptureGrantedAtLaunch() = 0;
  // A new, hidden overlay window covering `screen`; none when the window system refuses.
  virtual std::unique_ptr<OverlayWindow> makeWindow(const ScreenInfo& screen) = 0;
};

}  // namespace quorvel
