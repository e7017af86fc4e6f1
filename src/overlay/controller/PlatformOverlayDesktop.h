#pragma once

#include <functional>

#include "overlay/controller/OverlayDesktop.h"
#include "platform/PlatformServices.h"

namespace quorvel {

// The overlay controller's desktop on the platform services: screens from the display service, the
// pointer (turned into the display service's bottom-left coordinates), the workspace's front
// application and activation, and the window server's list for the front window. What the platform
// services do not cover comes as hooks from the program. Main thread only.
class PlatformOverlayDesktop final : public OverlayDesktop {
 public:
  struct Hooks {
    std::function<std::unique_ptr<OverlayWindow>(const ScreenInfo&)> makeWindow;
    // Makes this program the active application (may be empty: nothing to do).
    std::function<void()> activateSelf;
    // The system's reduce-motion setting (may be empty: off).
    std::function<bool()> reduceMotion;
    // A screen's highest frame rate (may be empty: unknown).
    std::function<double(const ScreenInfo&)> refreshRate;
    // Screen Recording as sampled at launch (none: not sampled).
    std::optional<bool> screenCaptureGrantedAtLaunch;
  };

  PlatformOverlayDesktop(PlatformServices platform, Hooks hooks) : platform_(platform), hooks_(std::move(hooks)) {}

  std::vector<ScreenInfo> screens() override;
  std::optional<Point> pointerLocation() override;
  std::optional<RunningApplication> frontmostApplication() override;
  bool activateApplication(int32_t pid) override;
  void activateSelf() override;
  bool applicationIsActive() override;
  std::optional<Rect> frontWindowBounds(int32_t pid) override;
  // A laptop's own panel: an output named "eDP", "LVDS" or "DSI" (with any suffix).
  bool isBuiltIn(const ScreenInfo& screen) override;
  double maximumFramesPerSecond(const ScreenInfo& screen) override;
  uint32_t pressedMouseButtons() override;
  bool reduceMotion() override;
  bool screenCaptureGranted() override;
  std::optional<bool> screenCaptureGrantedAtLaunch() override { return hooks_.screenCaptureGrantedAtLaunch; }
  std::unique_ptr<OverlayWindow> makeWindow(const ScreenInfo& screen) override;

 private:
  PlatformServices platform_;
  Hooks hooks_;
};

}  // namespace quorvel
