#include "actions/OverviewDisplays.h"

#include <set>

namespace quorvel {

namespace {

// A screen's bottom-left frame in the top-left coordinates of the main screen.
Rect flipped(const Rect& r, double mainHeight) { return {r.x, mainHeight - (r.y + r.height), r.width, r.height}; }

}  // namespace

DesktopMap OverviewDisplays::spanningScreens(const DesktopMap& map, const std::vector<ScreenReading>& screens) {
  if (map.separateSpaces || map.displays.size() != 1 || screens.size() < 2) return map;
  double mainHeight = screens.front().frame.height;
  for (const ScreenReading& s : screens) {
    if (s.isMain) {
      mainHeight = s.frame.height;
      break;
    }
  }
  DesktopMap spread;
  spread.separateSpaces = false;
  for (const ScreenReading& s : screens) {
    DesktopMap::Display display;
    display.displayID = s.displayID;
    display.frame = flipped(s.frame, mainHeight);
    display.visibleFrame = flipped(s.visibleFrame, mainHeight);
    display.isMain = s.isMain;
    display.name = s.name;
    display.desktops = map.displays.front().desktops;
    spread.displays.push_back(std::move(display));
  }
  return spread;
}

bool OverviewDisplays::desktopsSpanDisplays(const DesktopMap& map) {
  std::set<int64_t> seen;
  for (const DesktopMap::Display& display : map.displays) {
    for (const DesktopMap::Desktop& desktop : display.desktops) {
      if (!seen.insert(desktop.spaceID).second) return true;
    }
  }
  return false;
}

}  // namespace quorvel
