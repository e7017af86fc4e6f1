#pragma once

#include <vector>

#include "windows/DesktopMap.h"

namespace quorvel {

// The displays the desktops overview draws a band for. Where each screen has desktops of its own,
// the desktop map's displays as they are. Where the desktops span every screen (one set of
// desktops shown on all of them, as on X11), the map lists them under the main screen only: the
// overview then gives every screen a band of its own listing all the desktops, so that a window can
// be dropped on any screen's miniature of any desktop. Its windows are shown on the band of the
// screen that holds most of them (OverviewGeometry::WindowItem::displayID).
struct OverviewDisplays {
  // The map with one display per screen (top-left frames, in the screens' order, the main screen's
  // name and flags as read) when desktops span every screen and there is more than one screen;
  // otherwise the map unchanged.
  static DesktopMap spanningScreens(const DesktopMap& map, const std::vector<ScreenReading>& screens);
  // Whether one desktop shows on several of the map's displays.
  static bool desktopsSpanDisplays(const DesktopMap& map);
};

}  // namespace quorvel
