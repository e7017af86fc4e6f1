#pragma once

#include <memory>

#include "platform/DesktopServer.h"

namespace quorvel {

class X11Backend;

// The desktops of an X session (EWMH), in the shape of the window server's desktop calls.
//
// Desktop ids are the window manager's desktop index + 1, so the first desktop is 1 and no id is 0
// (ids below 1 name no desktop). The window manager's desktops span every monitor, so there is one
// display entry, identified "Main", holding every desktop as a normal desktop (type 0) in the
// window manager's order; its current desktop is _NET_CURRENT_DESKTOP + 1.
//   windows on a desktop   = the managed windows whose _NET_WM_DESKTOP is that desktop, and the
//                            windows on every desktop (sticky ones); the options are not consulted;
//   desktops of windows    = the union of the desktops of the given windows, ascending; a sticky
//                            window is on every desktop; unknown windows, and windows that name a
//                            desktop the window manager does not have, add nothing; the mask is
//                            not consulted;
//   moving windows         = a _NET_WM_DESKTOP request per window;
//   background blur        = not available: X has no such service, so it answers kBlurUnavailable.
// Every group but blur is available while the window manager publishes its desktops.
class X11DesktopServer final : public DesktopServer {
 public:
  static constexpr int32_t kBlurUnavailable = -1;

  explicit X11DesktopServer(std::shared_ptr<X11Backend> backend);

  bool isAvailable(Group group) override;
  std::optional<std::vector<ManagedDisplaySpaces>> copyManagedDisplaySpaces() override;
  std::optional<std::vector<uint32_t>> copyWindowsOnSpace(int64_t spaceID, uint32_t options) override;
  std::optional<std::vector<int64_t>> copySpacesForWindows(const std::vector<uint32_t>& windows,
                                                           uint32_t mask) override;
  bool moveWindowsToSpace(const std::vector<uint32_t>& windows, int64_t spaceID) override;
  int32_t setWindowBackgroundBlur(uint32_t window, int32_t radius) override;

 private:
  std::shared_ptr<X11Backend> backend_;
};

}  // namespace quorvel
