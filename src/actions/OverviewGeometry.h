#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/Geometry.h"
#include "windows/DesktopMap.h"

namespace quorvel {

// The layout of the desktops overview: every display as a band of its desktops, each desktop a
// miniature of the display with miniature windows inside it. Pure computation on values; positions
// are canvas points, origin top left, y down.
struct OverviewGeometry {
  // One window to show.
  struct WindowItem {
    uint32_t windowID = 0;
    int64_t spaceID = 0;  // the desktop it is shown on
    Rect frame;           // in the displays' coordinates
    // Where one desktop is shown on several displays (desktops that span every screen): the display
    // whose band shows the window. None: the first region of the desktop.
    std::optional<uint32_t> displayID;
    bool operator==(const WindowItem&) const = default;
  };
  struct Band {
    uint32_t displayID = 0;
    std::string name;
    Rect rect;       // the strip of the display's desktops
    Rect labelRect;  // the label strip just above it
    bool operator==(const Band&) const = default;
  };
  struct Region {
    int64_t spaceID = 0;
    uint32_t displayID = 0;
    std::optional<int> number;  // none for a full-screen desktop
    bool isCurrent = false;
    bool isFullscreen = false;
    Rect rect;          // the desktop's miniature
    Rect displayFrame;  // maps window frames into rect
    bool operator==(const Region&) const = default;
  };
  struct Cell {
    uint32_t windowID = 0;
    size_t regionIndex = 0;
    Rect rect;
    bool operator==(const Cell&) const = default;
  };
  struct Plan {
    std::vector<Band> bands;
    std::vector<Region> regions;  // band by band, each in its display's order
    std::vector<Cell> cells;      // in the order of the window items
    bool isTooSmall = false;      // the canvas cannot hold the overview; the lists are empty
    bool operator==(const Plan&) const = default;
  };
  struct Metrics {
    double bandGap = 28;
    double desktopGap = 16;
    double margin = 48;
    double labelHeight = 22;
    double minimumDesktopHeight = 60;
  };

  // Bands side by side when that gives larger desktops, else stacked; centred on the canvas.
  static Plan makePlan(const std::vector<DesktopMap::Display>& displays, const std::vector<WindowItem>& items,
                       const Metrics& metrics, double canvasWidth, double canvasHeight);
  // The cells of the items that have a region (first region of the desktop, or of the desktop on
  // the item's display).
  static std::vector<Cell> cells(const std::vector<WindowItem>& items, const std::vector<Region>& regions);
  // A window frame mapped into a region (not clipped to it); none for an unusable frame.
  static std::optional<Rect> miniatureRect(const Region& region, const Rect& frame);
};

}  // namespace quorvel
