#include "platform/x11/X11Displays.h"

#include "platform/x11/X11Backend.h"

namespace quorvel {

X11Displays::X11Displays(std::shared_ptr<X11Backend> backend) : backend_(std::move(backend)) {}

Rect X11Displays::flipped(const X11Rect& frame, int32_t primaryHeight) {
  return Rect{double(frame.x), double(primaryHeight) - double(frame.bottom()), double(frame.width),
              double(frame.height)};
}

std::vector<ScreenInfo> X11Displays::screens() {
  const std::vector<X11Monitor> monitors = backend_->monitors();
  int32_t primaryHeight = 0;
  for (const X11Monitor& m : monitors) {
    if (m.isPrimary) primaryHeight = m.frame.height;
  }
  std::vector<ScreenInfo> result;
  result.reserve(monitors.size());
  for (const X11Monitor& m : monitors) {
    ScreenInfo screen;
    screen.screenNumber = backend_->displayID(m);
    screen.uuid = m.name;
    screen.frame = flipped(m.frame, primaryHeight);
    screen.visibleFrame = flipped(m.visibleFrame, primaryHeight);
    screen.localizedName = m.name;
    result.push_back(std::move(screen));
  }
  return result;
}

uint32_t X11Displays::mainDisplayID() {
  for (const X11Monitor& m : backend_->monitors()) {
    if (m.isPrimary) return backend_->displayID(m);
  }
  return 0;
}

bool X11Displays::screensHaveSeparateSpaces() { return false; }

}  // namespace quorvel
