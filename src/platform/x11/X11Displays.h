#pragma once

#include <memory>

#include "platform/Displays.h"
#include "platform/x11/X11Monitor.h"

namespace quorvel {

class X11Backend;

// The attached screens of an X session: one per RandR monitor, in RandR's order.
//   screen number  = the monitor's display id (X11Backend: the atom of its name);
//   uuid and name  = the RandR monitor name ("HDMI-1"), the only stable handle X gives a monitor;
//   frames         = the monitor and the part docks leave free, turned into the bottom-left, y-up
//                    coordinates whose origin is the primary monitor's bottom-left corner;
//   main display   = the primary monitor;
//   separate desktops per screen: never, since EWMH desktops span every monitor at once.
class X11Displays final : public Displays {
 public:
  explicit X11Displays(std::shared_ptr<X11Backend> backend);

  std::vector<ScreenInfo> screens() override;
  uint32_t mainDisplayID() override;
  bool screensHaveSeparateSpaces() override;

  // A global top-left frame in the bottom-left, y-up coordinates of a primary monitor
  // `primaryHeight` high.
  static Rect flipped(const X11Rect& frame, int32_t primaryHeight);

 private:
  std::shared_ptr<X11Backend> backend_;
};

}  // namespace quorvel
