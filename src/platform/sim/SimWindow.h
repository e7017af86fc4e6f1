#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/AXElement.h"
#include "platform/sim/SimDesktop.h"

namespace quorvel {

// A test's handle on one simulated window; a thin front for the SimDesktop calls that take its
// number. Handles stay valid for the life of the desktop, also after the window closed.
class SimWindow {
 public:
  SimWindow(SimDesktop& desktop, uint32_t number, int32_t pid) : desktop_(&desktop), number(number), pid(pid) {}

  bool focus();
  bool raise();
  bool minimize(bool minimized = true);
  bool close();
  bool setTitle(std::optional<std::string> title);
  bool setFrame(Rect frame);
  bool moveToDesktop(int64_t spaceID);
  bool setSticky(bool sticky);
  bool exists() const;
  bool isOnScreen() const;
  std::optional<Rect> frame() const;
  SimElementId element() const;  // the window element
  AXElementRef ref() const;
  // Adds a subtree under the window element (a tab strip, for instance).
  SimElementId addElement(SimElementSpec spec);

 private:
  SimDesktop* desktop_;

 public:
  uint32_t number;
  int32_t pid;
};

}  // namespace quorvel
