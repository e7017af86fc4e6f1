#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/Geometry.h"
#include "windows/SpaceMap.h"

namespace quorvel {

class Displays;
class Hasher;

// One attached screen as the display service reports it (bottom-left coordinates).
struct ScreenReading {
  std::string uuid;  // "" when the display has none
  uint32_t displayID = 0;
  Rect frame;
  Rect visibleFrame;
  bool isMain = false;
  std::string name;

  bool operator==(const ScreenReading&) const = default;
  void hash(Hasher& hasher) const;
};

// The displays with their desktops: what the window server says about desktops joined with the
// attached screens, each display once, in the window server's order. Frames are global top-left
// coordinates, like window frames. A plain value, read afresh whenever it is needed.
struct DesktopMap {
  struct Desktop {
    int64_t spaceID = 0;
    std::optional<int> number;  // none for full-screen and other unnumbered desktops
    bool isFullscreen = false;
    bool isCurrent = false;  // the display's current desktop

    bool operator==(const Desktop&) const = default;
    void hash(Hasher& hasher) const;
  };

  struct Display {
    uint32_t displayID = 0;
    Rect frame;
    Rect visibleFrame;  // less the panels the desktop reserves
    bool isMain = false;
    std::string name;
    std::vector<Desktop> desktops;  // in the window server's order

    bool operator==(const Display&) const = default;
    void hash(Hasher& hasher) const;
  };

  std::vector<Display> displays;
  bool separateSpaces = false;  // each screen has its own desktops

  // Reads the desktops and the screens and joins them; none (with a log line) when the window
  // server gives no desktops. Main thread.
  static std::optional<DesktopMap> read(const SpaceMap& spaces, Displays& displays);
  // Reads the attached screens in the display service's order.
  static std::vector<ScreenReading> readScreens(Displays& displays);
  // Joins the window server's displays with the screen readings; a listed display without a screen
  // is left out (with a log line).
  static std::vector<Display> join(const SpaceMap::Topology& topology, const std::vector<ScreenReading>& screens);

  // The desktops of all displays, in display order.
  std::vector<Desktop> allDesktops() const;
  // The display that holds most of the rectangle (top-left coordinates), by largestOverlapIndex.
  std::optional<Display> displayContaining(const Rect& rect) const;
};

// The index of the frame that overlaps `rect` most. Overlaps within 0.5 square points of each other
// count as equal, and then a frame holding the rectangle's centre wins over one that does not;
// among equals the earlier frame stays. None when no frame overlaps with a positive area.
std::optional<size_t> largestOverlapIndex(const std::vector<Rect>& frames, const Rect& rect);

// Hashes a rectangle in standardized form, each coordinate by its bit pattern (-0 as 0).
void hashRect(Hasher& hasher, const Rect& rect);

}  // namespace quorvel

template <>
struct std::hash<quorvel::ScreenReading> {
  size_t operator()(const quorvel::ScreenReading& value) const;
};
template <>
struct std::hash<quorvel::DesktopMap::Desktop> {
  size_t operator()(const quorvel::DesktopMap::Desktop& value) const;
};
template <>
struct std::hash<quorvel::DesktopMap::Display> {
  size_t operator()(const quorvel::DesktopMap::Display& value) const;
};
