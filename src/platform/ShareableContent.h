#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/Geometry.h"

namespace quorvel {

struct ShareableApplication {
  int32_t processID = 0;
  std::string applicationName;
  std::string bundleIdentifier;  // "" when the application has none
};

struct ShareableWindow {
  uint32_t windowID = 0;
  std::optional<std::string> title;
  Rect frame;  // global, top-left origin
  int64_t windowLayer = 0;
  bool isOnScreen = false;
  std::optional<ShareableApplication> owningApplication;
  // The window's place in the order the windowing system's model first saw the windows (earlier
  // first, below 0x80000000); none where no opening order is known.
  std::optional<uint32_t> openingOrder;
};

// One display as the capture service knows it: its id and its frame in the windows' coordinates
// (global, top-left origin).
struct ShareableDisplay {
  uint32_t displayID = 0;
  Rect frame;
};

struct ShareableContentResult {
  std::vector<ShareableWindow> windows;  // every window on every desktop, in the service's order
  std::optional<std::string> error;      // set when the request failed
  std::vector<ShareableDisplay> displays;  // every attached display, in the service's order
};

// The capture service's list of shareable windows.
class ShareableContent {
 public:
  virtual ~ShareableContent() = default;
  // Asks for the shareable windows; `completion` runs once, on a thread of the service's choosing.
  virtual void getShareableContent(bool excludeDesktopWindows, bool onScreenWindowsOnly,
                                   std::function<void(ShareableContentResult)> completion) = 0;
};

}  // namespace quorvel
