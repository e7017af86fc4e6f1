#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "actions/MoveRefusal.h"
#include "base/Clock.h"
#include "base/Geometry.h"
#include "base/Logger.h"
#include "base/Task.h"
#include "platform/AXElement.h"

namespace quorvel {

class Accessibility;
class Displays;
class SpaceMap;

// Carries out the steps of a move plan on a real window: sets another application's window to a
// frame through Accessibility and checks where it landed, moves a window to another desktop and
// polls until it shows up there, flips rectangles between the two screen coordinate systems, and
// logs the outcome of a whole move (category "Overview").
//
// Threads: applyGeometry, setEnhancedUserInterface and isFullScreen block on another application and
// run on the serial Accessibility queue (the caller hops there); waitForDesktopLanding and
// globalFrame run on the main queue, the landing poll sleeping between polls on the task's clock.
class WindowMover {
 public:
  static constexpr double kTolerance = 1.5;  // points, in each of x, y, width and height
  static constexpr int kLandingPolls = 5;
  static constexpr Duration kLandingInterval = std::chrono::milliseconds(60);
  static constexpr float kMessagingTimeout = 0.5f;

  struct Services {
    Accessibility& accessibility;
    const SpaceMap& spaces;
    Displays& displays;
    // Whether an application's "AXEnhancedUserInterface" is its own switch, which delays the moves
    // of its windows and is turned off around them. Where it is the session's assistive-technology
    // switch (X11), turning it off would cut every application off the accessibility bus: it is left
    // alone.
    bool switchesEnhancedInterface = true;
  };

  // The window's frame as last read back (the target when it could not be read), or the refusal.
  using GeometryResult = std::variant<Rect, MoveRefusal>;

  explicit WindowMover(Services services);

  // Sets the window (of process `pid`) to `target`, global top-left coordinates: fails with
  // fullScreen before anything is written, positionNotSettable when its position cannot be written,
  // appPutItBack (target, landed) when after two attempts the window is elsewhere. A window that
  // moved but kept its own size counts as moved; one whose frame cannot be read back, too.
  GeometryResult applyGeometry(const AXElementRef& window, int32_t pid, const Rect& target) const;
  // Asks for the window to go to the desktop and polls (5 times, 0.06 s apart) until the window is on
  // it. False at once when the request cannot be made, or after the fifth poll.
  Task<bool> waitForDesktopLanding(uint32_t window, int64_t spaceID) const;
  // The rectangle in the other of the two screen coordinate systems (bottom-left origin, y up, and
  // top-left origin, y down, both of the primary screen): the flip is its own inverse.
  Rect globalFrame(const Rect& rect) const;
  static bool framesMatch(const Rect& a, const Rect& b, double tolerance);
  // One line for a move that was refused nothing, else one line per refusal.
  static void logResult(const std::vector<MoveRefusal>& refusals, const std::string& appName, bool movedDisplay,
                        bool movedDesktop);
  // Turns the application's "AXEnhancedUserInterface" off when it is on; its value before, none
  // when it cannot be read.
  std::optional<bool> setEnhancedUserInterface(const AXElementRef& application) const;
  // "AXFullScreen"; false when unreadable or not a Bool.
  bool isFullScreen(const AXElementRef& window) const;

  static const Logger& logger();

 private:
  void writeFrame(const AXElementRef& window, const Rect& target, bool sizeSettable) const;

  Services services_;
};

}  // namespace quorvel
