#pragma once

#include <memory>

#include "platform/WindowServer.h"

namespace quorvel {

class X11Backend;

// The window list and the displays of an X session, in the shape of the window server's public
// lists:
//   on-screen windows  = the managed windows on screen now (mapped, or not minimized on the current
//                        desktop: X11WindowModel::State::isOnScreen), front to back, less desktop
//                        windows (wallpapers, icons);
//                        number = the X window id, layer = the layer of the window's type (0 for
//                        normal windows and dialogs), owner = the window's process and WM_CLASS
//                        class, bounds = the frame with decorations in global top-left
//                        coordinates, name = the title;
//   active displays    = the RandR monitors in RandR's order, by the ids X11Backend gives them;
//   focus              = the window manager's active window (_NET_ACTIVE_WINDOW) while it is a
//                        managed window, else none: window managers need not raise the window
//                        they activate, nor keep their stacking list in step with it;
//   front window of an application = the one of its windows last seen active or last activated
//                        by us (X11Backend::recentWindow);
//   screen recording   = always granted: any X client may read any window.
class X11WindowServer final : public WindowServer {
 public:
  explicit X11WindowServer(std::shared_ptr<X11Backend> backend);

  std::optional<std::vector<WindowListEntry>> onScreenWindows() override;
  std::optional<std::vector<uint32_t>> onScreenWindowNumbers() override;
  std::optional<std::vector<uint32_t>> activeDisplays() override;
  std::optional<Rect> displayBounds(uint32_t displayID) override;
  bool preflightScreenCaptureAccess() override;
  bool requestScreenCaptureAccess() override;
  std::optional<WindowFocus> focus() override;
  std::optional<uint32_t> frontWindowOfApplication(int32_t pid) override;

 private:
  std::shared_ptr<X11Backend> backend_;
};

}  // namespace quorvel
