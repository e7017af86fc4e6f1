#pragma once

#include <cstdint>
#include <optional>
#include <set>
#include <variant>
#include <vector>

#include "actions/MoveRefusal.h"
#include "base/Geometry.h"
#include "settings/SettingEnums.h"
#include "windows/WindowState.h"

namespace quorvel {

// What the system allows of a move. Packed into one integer for the planner: bit 0
// canMoveBetweenDisplays, bit 8 canMoveBetweenDesktops, bit 16 separateSpaces.
struct MoveCapability {
  bool canMoveBetweenDisplays = false;  // other applications' windows may be moved (Accessibility)
  bool canMoveBetweenDesktops = false;  // the window manager moves windows between desktops
  bool separateSpaces = false;          // each display has its own set of desktops

  uint32_t packed() const;
  static MoveCapability unpack(uint32_t bits);
  bool operator==(const MoveCapability&) const = default;
};

// The planner's view of one window. `frame`, `sourceVisibleFrame` and the destination's visible
// frame are in one coordinate space.
struct MovableWindow {
  uint32_t id = 0;
  int32_t pid = 0;
  Rect frame;
  WindowState state = WindowState::onCurrentSpace;
  std::optional<uint32_t> displayID;  // the display the window is on
  Rect sourceVisibleFrame;            // visible frame of that display
  bool hasAXHandle = false;
  std::set<int64_t> spaceIDs;  // the desktops the window is on
  bool isOnFullscreenSpace = false;
  bool isOurs = false;  // one of this program's windows
};

// Where a window is to go.
struct MoveDestination {
  int64_t spaceID = 0;
  uint32_t displayID = 0;
  Rect visibleFrame;                      // the destination display's
  std::optional<int64_t> currentSpaceID;  // the desktop that display shows now, when known
};

// The planning of a window move: pure decisions over its arguments (no system state is read).
// A plan is an ordered list of steps and, independently, a list of refusals; a plan may hold both
// (a frame step and a refused desktop step, say).
struct MovePlan {
  // Sets another application's window to the frame through Accessibility.
  struct Geometry {
    Rect target;
    bool operator==(const Geometry& other) const { return target.standardized() == other.target.standardized(); }
  };
  // Sets one of this program's own windows to the frame.
  struct OwnGeometry {
    Rect target;
    bool operator==(const OwnGeometry& other) const { return target.standardized() == other.target.standardized(); }
  };
  // Moves the window to the desktop.
  struct Desktop {
    int64_t spaceID = 0;
    bool operator==(const Desktop&) const = default;
  };
  using Step = std::variant<Geometry, OwnGeometry, Desktop>;

  std::vector<Step> steps;
  std::vector<MoveRefusal> refusals;

  // The steps (in the order they are to run) and the refusals of moving `window` to `destination`.
  static MovePlan make(const MovableWindow& window, const MoveDestination& destination, uint32_t capability,
                       SettingEnums::MoveResize moveResize);
  // Why the window may not be picked up at all; none: it may be dragged. Reads only bit 0 of the
  // capability.
  static std::optional<MoveRefusal> dragRefusal(const MovableWindow& window, uint32_t capability);
  // The frame a window takes on the destination display: sized by the setting (its share of the
  // display, or its own size), never below 200 x 120 points unless it or the destination is smaller,
  // placed at the same relative place, clamped inside the destination and rounded to whole points.
  // A non-finite or empty rectangle among the three leaves the frame as it is.
  static Rect stepGeometry(const Rect& frame, const Rect& sourceVisible, const Rect& destinationVisible,
                           SettingEnums::MoveResize moveResize);
};

}  // namespace quorvel
