#include "actions/MovePlan.h"

#include <algorithm>
#include <cmath>

namespace quorvel {

namespace {

constexpr uint32_t kDisplaysBit = 1u << 0;
constexpr uint32_t kDesktopsBit = 1u << 8;
constexpr uint32_t kSeparateBit = 1u << 16;

// The refusal that a window's state alone gives, before any capability counts.
std::optional<MoveRefusal> stateRefusal(const MovableWindow& window) {
  using Reason = MoveRefusal::Reason;
  switch (window.state) {
    case WindowState::hiddenApp: return MoveRefusal::of(Reason::appIsHidden);
    case WindowState::windowlessApp: return MoveRefusal::of(Reason::notAWindow);
    case WindowState::browserTab: return MoveRefusal::of(Reason::tabHasNoWindowOfItsOwn);
    case WindowState::minimized: return MoveRefusal::of(Reason::minimized);
    case WindowState::onCurrentSpace:
    case WindowState::onOtherSpace: break;
  }
  if (window.isOnFullscreenSpace) return MoveRefusal::of(Reason::fullScreen);
  return std::nullopt;
}

bool isUsable(const Rect& r) {
  return std::isfinite(r.x) && std::isfinite(r.y) && std::isfinite(r.width) && std::isfinite(r.height) &&
         r.width > 0 && r.height > 0;
}

// Keeps [origin, origin + length) inside [low, high): at the low edge when it is longer.
double clampInto(double origin, double length, double low, double high) {
  origin = std::max(origin, low);
  origin = std::min(origin, high - length);
  if (origin < low) origin = low;
  return origin;
}

}  // namespace

uint32_t MoveCapability::packed() const {
  return (canMoveBetweenDisplays ? kDisplaysBit : 0) | (canMoveBetweenDesktops ? kDesktopsBit : 0) |
         (separateSpaces ? kSeparateBit : 0);
}

MoveCapability MoveCapability::unpack(uint32_t bits) {
  return {(bits & kDisplaysBit) != 0, (bits & kDesktopsBit) != 0, (bits & kSeparateBit) != 0};
}

std::optional<MoveRefusal> MovePlan::dragRefusal(const MovableWindow& window, uint32_t capability) {
  if (auto refusal = stateRefusal(window)) return refusal;
  if (!(capability & kDisplaysBit) && !window.isOurs) return MoveRefusal::of(MoveRefusal::Reason::accessibilityNotGranted);
  return std::nullopt;
}

MovePlan MovePlan::make(const MovableWindow& window, const MoveDestination& destination, uint32_t capability,
                        SettingEnums::MoveResize moveResize) {
  using Reason = MoveRefusal::Reason;
  MovePlan plan;
  if (auto refusal = stateRefusal(window)) {
    plan.refusals.push_back(*refusal);
    return plan;
  }
  const MoveCapability can = MoveCapability::unpack(capability);
  const bool sameDisplay = window.displayID && *window.displayID == destination.displayID;
  const bool onDestination = window.spaceIDs.contains(destination.spaceID);
  const bool displayMove = !sameDisplay;
  bool desktopStep = !onDestination;
  // With desktops per display, a window carried to a display lands on the desktop that display
  // shows: when that is the destination, no desktop step is needed.
  if (displayMove && desktopStep && can.separateSpaces && destination.currentSpaceID &&
      *destination.currentSpaceID == destination.spaceID) {
    desktopStep = false;
  }
  if (displayMove) {
    const Rect target = stepGeometry(window.frame, window.sourceVisibleFrame, destination.visibleFrame, moveResize);
    if (window.isOurs) {
      plan.steps.push_back(OwnGeometry{target});
    } else if (!can.canMoveBetweenDisplays) {
      plan.refusals.push_back(MoveRefusal::of(Reason::accessibilityNotGranted));
    } else if (window.hasAXHandle) {
      plan.steps.push_back(Geometry{target});
    } else {
      plan.refusals.push_back(MoveRefusal::of(Reason::noAccessibilityHandle));
    }
  }
  if (desktopStep) {
    if (window.spaceIDs.size() >= 2) {
      plan.refusals.push_back(MoveRefusal::of(Reason::onEveryDesktop));
    } else if (can.canMoveBetweenDesktops) {
      plan.steps.push_back(Desktop{destination.spaceID});
    } else {
      plan.refusals.push_back(MoveRefusal::of(Reason::desktopMovesUnavailable));
    }
  }
  return plan;
}

Rect MovePlan::stepGeometry(const Rect& frame, const Rect& source, const Rect& destination,
                            SettingEnums::MoveResize moveResize) {
  if (!isUsable(frame) || !isUsable(source) || !isUsable(destination)) return frame;
  const bool fit = moveResize == SettingEnums::MoveResize::fitToDisplay;
  double width = fit ? frame.width / source.width * destination.width : frame.width;
  double height = fit ? frame.height / source.height * destination.height : frame.height;
  width = std::min(width, destination.width);
  height = std::min(height, destination.height);
  width = std::max(width, std::min({frame.width, 200.0, destination.width}));
  height = std::max(height, std::min({frame.height, 120.0, destination.height}));
  width = std::min(std::round(width), destination.width);
  height = std::min(std::round(height), destination.height);

  double x = 0, y = 0;
  if (fit) {
    x = destination.minX() + (frame.minX() - source.minX()) / source.width * destination.width;
    y = destination.minY() + (frame.minY() - source.minY()) / source.height * destination.height;
  } else {
    const double cx = destination.minX() + (frame.midX() - source.minX()) / source.width * destination.width;
    const double cy = destination.minY() + (frame.midY() - source.minY()) / source.height * destination.height;
    x = cx - width / 2;
    y = cy - height / 2;
  }
  x = clampInto(x, width, destination.minX(), destination.maxX());
  y = clampInto(y, height, destination.minY(), destination.maxY());
  x = clampInto(std::round(x), width, destination.minX(), destination.maxX());
  y = clampInto(std::round(y), height, destination.minY(), destination.maxY());
  return {x, y, width, height};
}

}  // namespace quorvel
