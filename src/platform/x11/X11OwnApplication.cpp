#include "platform/x11/X11OwnApplication.h"

#include <cmath>

#include <unistd.h>

#include "platform/x11/X11Backend.h"

namespace quorvel {

namespace {

int32_t ownPid() { return static_cast<int32_t>(::getpid()); }

}  // namespace

X11OwnApplication::X11OwnApplication(std::shared_ptr<X11Backend> backend) : backend_(std::move(backend)) {}

std::vector<OwnWindow> X11OwnApplication::windows() {
  std::vector<OwnWindow> list;
  for (const X11Window& w : backend_->windowsInClientOrder()) {
    if (w.pid == ownPid()) list.push_back(OwnWindow{w.id, w.minimized});
  }
  return list;
}

bool X11OwnApplication::isOwn(uint32_t number) {
  const std::optional<X11Window> w = backend_->managedWindow(number);
  return w && w->pid == ownPid();
}

bool X11OwnApplication::unminimize(uint32_t number) {
  return isOwn(number) && backend_->actions().unminimize(number);
}

bool X11OwnApplication::minimize(uint32_t number) {
  return isOwn(number) && backend_->actions().minimize(number);
}

bool X11OwnApplication::performClose(uint32_t number) {
  return isOwn(number) && backend_->actions().close(number);
}

bool X11OwnApplication::raiseAndFocus(uint32_t number) {
  if (!isOwn(number)) return false;
  const std::optional<uint32_t> sent = backend_->actions().activateStamped(number);
  if (sent) backend_->noteRecentWindow(ownPid(), number, *sent);
  return sent.has_value();
}

void X11OwnApplication::activateProgram() {}

bool X11OwnApplication::setFrame(uint32_t number, const Rect& frame) {
  if (!isOwn(number)) return false;
  const std::optional<X11Window> window = backend_->managedWindow(number);
  if (!window) return false;
  int32_t primaryHeight = 0;
  for (const X11Monitor& monitor : backend_->monitorFrames()) {
    if (monitor.isPrimary) primaryHeight = monitor.frame.height;
  }
  const auto [dx, dy] = backend_->globalOrigin();
  const int32_t x = static_cast<int32_t>(std::lround(frame.minX()));
  const int32_t y = static_cast<int32_t>(std::lround(primaryHeight - frame.maxY()));
  const int32_t width = static_cast<int32_t>(std::lround(frame.width));
  const int32_t height = static_cast<int32_t>(std::lround(frame.height));
  if (width <= 0 || height <= 0) return false;
  return backend_->actions().setFrame(number, window->frame.offsetBy(dx, dy), std::pair{x + dx, y + dy},
                                      std::pair{width, height});
}

}  // namespace quorvel
