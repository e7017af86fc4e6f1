#pragma once

#include <cstdint>
#include <vector>

#include "base/Geometry.h"

namespace quorvel {

// One of this program's own windows, as the application object lists it.
struct OwnWindow {
  uint32_t number = 0;       // the window server's number of the window (a card's window id)
  bool isMinimized = false;
};

// This program's own application object: its windows, and bringing them and itself forward. Called
// on the main thread only.
class OwnApplication {
 public:
  virtual ~OwnApplication() = default;
  // Every window of the program, in the order the application lists them.
  virtual std::vector<OwnWindow> windows() = 0;
  // Takes a minimized window of ours out of the window manager's iconic state.
  virtual bool unminimize(uint32_t number) = 0;
  // Minimizes a window of ours (into the window manager's iconic state).
  virtual bool minimize(uint32_t number) = 0;
  // Closes a window of ours as its close button would (the window may still refuse).
  virtual bool performClose(uint32_t number) = 0;
  // Gives the window the keyboard focus and puts it in front of the program's other windows.
  virtual bool raiseAndFocus(uint32_t number) = 0;
  // Makes this program the active application even while another one is in front.
  virtual void activateProgram() = 0;
  // Gives a window of ours this frame (bottom-left screen coordinates, y up) and redraws it. False
  // where the application cannot place its windows (the default).
  virtual bool setFrame(uint32_t /*number*/, const Rect& /*frame*/) { return false; }
};

}  // namespace quorvel
