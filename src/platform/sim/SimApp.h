#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/AXElement.h"
#include "platform/sim/SimDesktop.h"

namespace quorvel {

// A test's handle on one simulated application; a thin front for the SimDesktop calls that take
// its pid. Handles stay valid for the life of the desktop, also after the application quits.
class SimApp {
 public:
  SimApp(SimDesktop& desktop, int32_t pid) : desktop_(&desktop), pid(pid) {}

  SimWindow& openWindow(SimWindowSpec spec = {});
  bool activate(bool allWindows = false);
  bool hide();
  bool unhide();
  bool quit();
  bool isRunning() const;
  bool isHidden() const;
  std::vector<uint32_t> windows() const;  // front to back
  std::optional<uint32_t> focusedWindow() const;
  SimElementId element() const;  // the application element
  AXElementRef ref() const;
  // Adds a subtree under the application element (a menu bar, for instance).
  SimElementId addElement(SimElementSpec spec);

 private:
  SimDesktop* desktop_;

 public:
  int32_t pid;
};

}  // namespace quorvel
