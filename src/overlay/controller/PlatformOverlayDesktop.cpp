#include "overlay/controller/PlatformOverlayDesktop.h"

#include "overlay/OverlayWindow.h"
#include "platform/Pointer.h"
#include "platform/WindowServer.h"

namespace quorvel {

std::vector<ScreenInfo> PlatformOverlayDesktop::screens() { return platform_.displays.screens(); }

std::optional<Point> PlatformOverlayDesktop::pointerLocation() {
  const std::optional<Point> at = platform_.pointer.location();
  if (!at) return std::nullopt;
  // Global top-left to the display service's bottom-left: the main screen sits at the origin.
  const std::vector<ScreenInfo> all = screens();
  double primary = 0;
  for (const ScreenInfo& s : all)
    if (s.frame.x == 0 && s.frame.y == 0) primary = s.frame.height;
  if (primary == 0 && !all.empty()) primary = all.front().frame.height;
  return Point{at->x, primary - at->y};
}

std::optional<RunningApplication> PlatformOverlayDesktop::frontmostApplication() {
  return platform_.workspace.frontmostApplication();
}

bool PlatformOverlayDesktop::activateApplication(int32_t pid) { return platform_.workspace.activate(pid, false); }

void PlatformOverlayDesktop::activateSelf() {
  if (hooks_.activateSelf) hooks_.activateSelf();
}

bool PlatformOverlayDesktop::applicationIsActive() {
  const auto front = platform_.workspace.frontmostApplication();
  return front && front->pid == platform_.workspace.ownPid();
}

std::optional<Rect> PlatformOverlayDesktop::frontWindowBounds(int32_t pid) {
  const auto windows = platform_.windowServer.onScreenWindows();
  if (!windows) return std::nullopt;
  for (const WindowListEntry& w : *windows)
    if (w.ownerPid == pid && w.layer == 0 && w.bounds && w.bounds->width > 1 && w.bounds->height > 1)
      return w.bounds;
  return std::nullopt;
}

bool PlatformOverlayDesktop::isBuiltIn(const ScreenInfo& screen) {
  for (const char* prefix : {"eDP", "LVDS", "DSI"})
    if (screen.localizedName.rfind(prefix, 0) == 0) return true;
  return false;
}

double PlatformOverlayDesktop::maximumFramesPerSecond(const ScreenInfo& screen) {
  return hooks_.refreshRate ? hooks_.refreshRate(screen) : 0;
}

uint32_t PlatformOverlayDesktop::pressedMouseButtons() { return platform_.pointer.pressedButtons(); }

bool PlatformOverlayDesktop::reduceMotion() { return hooks_.reduceMotion && hooks_.reduceMotion(); }

bool PlatformOverlayDesktop::screenCaptureGranted() { return platform_.windowServer.preflightScreenCaptureAccess(); }

std::unique_ptr<OverlayWindow> PlatformOverlayDesktop::makeWindow(const ScreenInfo& screen) {
  return hooks_.makeWindow ? hooks_.makeWindow(screen) : nullptr;
}

}  // namespace quorvel
