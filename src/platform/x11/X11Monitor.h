#pragma once

#include <string>

#include "platform/x11/X11Rect.h"

namespace quorvel {

// One monitor of the X screen, as RandR lists it. Frames are in global coordinates: pixels, origin at
// the top-left of the primary monitor, y downward.
struct X11Monitor {
  // The RandR monitor name ("HDMI-1", "eDP-1"); "default" for a screen without RandR monitors.
  std::string name;
  X11Rect frame;
  // The frame less the space docks and panels reserve (their struts).
  X11Rect visibleFrame;
  // The primary monitor: the one RandR marks primary, else the first listed.
  bool isPrimary = false;

  friend bool operator==(const X11Monitor&, const X11Monitor&) = default;
};

}  // namespace quorvel
