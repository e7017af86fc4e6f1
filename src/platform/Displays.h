#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/Geometry.h"

namespace quorvel {

// One attached screen as the display service reports it. Frames use the bottom-left origin of the
// main screen, y up (the main screen's frame has origin (0, 0)).
struct ScreenInfo {
  std::optional<uint32_t> screenNumber;  // the display id; none when the entry is missing
  std::string uuid;                      // "" when the display has none
  Rect frame;
  Rect visibleFrame;  // less the panels the desktop reserves
  std::string localizedName;
};

class Displays {
 public:
  virtual ~Displays() = default;
  // Every attached screen, in the service's order.
  virtual std::vector<ScreenInfo> screens() = 0;
  virtual uint32_t mainDisplayID() = 0;
  // The user setting that each screen has its own desktops.
  virtual bool screensHaveSeparateSpaces() = 0;
};

}  // namespace quorvel
