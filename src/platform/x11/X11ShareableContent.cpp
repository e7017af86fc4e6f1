#include "platform/x11/X11ShareableContent.h"

#include "base/Executor.h"
#include "platform/x11/X11Backend.h"

namespace quorvel {

namespace {

constexpr const char* kConnectionLost = "The connection to the X server is lost";

}  // namespace

X11ShareableContent::X11ShareableContent(std::shared_ptr<X11Backend> backend, Executor& worker)
    : backend_(backend), worker_(worker) {}

ShareableContentResult X11ShareableContent::read(X11Backend& backend, bool excludeDesktopWindows,
                                                 bool onScreenWindowsOnly) {
  ShareableContentResult result;
  // One snapshot: the windows and the desktop they are judged by are of the same moment.
  const X11WindowModel::Snapshot state = backend.model().current();
  if (backend.isBroken()) {
    result.error = kConnectionLost;
    return result;
  }
  result.windows.reserve(state->frontToBack.size());
  for (uint32_t index : state->frontToBack) {
    const X11Window& w = state->clients[index];
    const bool onScreen = state->isOnScreen(w);
    if (onScreenWindowsOnly && !onScreen) continue;
    if (excludeDesktopWindows && w.type == X11Window::Type::desktop) continue;
    ShareableWindow window;
    window.windowID = w.id;
    if (!w.title.empty()) window.title = w.title;
    // The frame the user sees, as a window's picture shows it (X11ScreenCapture).
    window.frame = (w.visibleFrame.isEmpty() ? w.frame : w.visibleFrame).toRect();
    window.windowLayer = w.layer;
    window.isOnScreen = onScreen;
    // Window ids follow the clients' connection slots, not the order the windows opened.
    window.openingOrder = state->openingOrder[index];
    if (w.pid) {
      window.owningApplication =
          ShareableApplication{*w.pid, backend.applicationName(w), w.bundleIdentifier().value_or("")};
    }
    result.windows.push_back(std::move(window));
  }
  for (const X11Monitor& monitor : backend.monitorFrames())
    result.displays.push_back({backend.displayID(monitor), monitor.frame.toRect()});
  return result;
}

void X11ShareableContent::getShareableContent(bool excludeDesktopWindows, bool onScreenWindowsOnly,
                                              std::function<void(ShareableContentResult)> completion) {
  worker_.post([backend = backend_, excludeDesktopWindows, onScreenWindowsOnly, completion = std::move(completion)] {
    ShareableContentResult result;
    if (auto strong = backend.lock()) {
      result = read(*strong, excludeDesktopWindows, onScreenWindowsOnly);
    } else {
      result.error = kConnectionLost;
    }
    completion(std::move(result));
  });
}

}  // namespace quorvel
