#include "actions/WindowMover.h"

#include <cmath>

#include "platform/AXNames.h"
#include "platform/Accessibility.h"
#include "platform/Displays.h"
#include "windows/SpaceMap.h"

namespace quorvel {

namespace {

constexpr const char* kFullScreen = "AXFullScreen";

bool settable(Accessibility& ax, const AXElementRef& element, const char* attribute, bool& answered) {
  bool value = false;
  answered = ax.isAttributeSettable(element, attribute, value) == AXError::success;
  return answered && value;
}

}  // namespace

WindowMover::WindowMover(Services services) : services_(services) {}

const Logger& WindowMover::logger() {
  // Never destroyed: threads still running as the process ends may log.
  static const Logger& instance = *new Logger("Overview");
  return instance;
}

bool WindowMover::framesMatch(const Rect& a, const Rect& b, double tolerance) {
  // Written so that a NaN difference never matches.
  return std::fabs(b.x - a.x) <= tolerance && std::fabs(b.y - a.y) <= tolerance &&
         std::fabs(b.width - a.width) <= tolerance && std::fabs(b.height - a.height) <= tolerance;
}

bool WindowMover::isFullScreen(const AXElementRef& window) const {
  const AXAttributeResult result = services_.accessibility.copyAttributeValue(window, kFullScreen);
  if (result.error != AXError::success) return false;
  const bool* on = result.value.get<bool>();
  return on && *on;
}

std::optional<bool> WindowMover::setEnhancedUserInterface(const AXElementRef& application) const {
  Accessibility& ax = services_.accessibility;
  const AXAttributeResult result = ax.copyAttributeValue(application, AXNames::kEnhancedUserInterface);
  if (result.error != AXError::success) return std::nullopt;
  const bool* on = result.value.get<bool>();
  if (!on) return std::nullopt;
  if (*on) ax.setAttributeValue(application, AXNames::kEnhancedUserInterface, AXValue(false));
  return *on;
}

void WindowMover::writeFrame(const AXElementRef& window, const Rect& target, bool sizeSettable) const {
  Accessibility& ax = services_.accessibility;
  if (sizeSettable) ax.setAttributeValue(window, AXNames::kSize, AXValue(Size{target.width, target.height}));
  ax.setAttributeValue(window, AXNames::kPosition, AXValue(Point{target.x, target.y}));
}

WindowMover::GeometryResult WindowMover::applyGeometry(const AXElementRef& window, int32_t pid,
                                                       const Rect& target) const {
  Accessibility& ax = services_.accessibility;
  ax.setMessagingTimeout(window, kMessagingTimeout);
  if (isFullScreen(window)) return MoveRefusal::of(MoveRefusal::Reason::fullScreen);
  bool answered = false;
  if (!settable(ax, window, AXNames::kPosition, answered)) {
    return MoveRefusal::of(MoveRefusal::Reason::positionNotSettable);
  }
  const bool sizeSettable = settable(ax, window, AXNames::kSize, answered);

  std::optional<bool> enhancedBefore;
  AXElementRef application;
  if (services_.switchesEnhancedInterface) {
    application = ax.applicationElement(pid);
    if (application) {
      ax.setMessagingTimeout(application, kMessagingTimeout);
      enhancedBefore = setEnhancedUserInterface(application);
    }
  }
  const auto result = [&]() -> GeometryResult {
    // The size first and again after the position: a window moved onto a smaller display may only
    // take its full size once it is there.
    writeFrame(window, target, sizeSettable);
    if (sizeSettable) ax.setAttributeValue(window, AXNames::kSize, AXValue(Size{target.width, target.height}));
    std::optional<Rect> landed = ax.frame(window);
    if (!landed) return target;
    if (framesMatch(*landed, target, kTolerance)) return *landed;
    writeFrame(window, target, sizeSettable);
    if (std::optional<Rect> again = ax.frame(window)) landed = again;
    if (framesMatch(*landed, target, kTolerance)) return *landed;
    // In place but at its own size: the application keeps a size of its own.
    if (std::fabs(landed->x - target.x) <= kTolerance && std::fabs(landed->y - target.y) <= kTolerance) return *landed;
    return MoveRefusal::putBack(target, *landed);
  }();
  if (enhancedBefore == true) ax.setAttributeValue(application, AXNames::kEnhancedUserInterface, AXValue(true));
  return result;
}

Task<bool> WindowMover::waitForDesktopLanding(uint32_t window, int64_t spaceID) const {
  if (!services_.spaces.moveWindows({window}, spaceID)) co_return false;
  for (int poll = 0; poll < kLandingPolls; ++poll) {
    // A sleep cut short by cancellation still goes on to the poll.
    co_await sleepFor(kLandingInterval);
    const std::optional<std::set<int64_t>> spaces = services_.spaces.spacesOfWindow(window);
    if (spaces && spaces->contains(spaceID)) co_return true;
  }
  co_return false;
}

Rect WindowMover::globalFrame(const Rect& rect) const {
  double height = 0;
  bool found = false;
  const std::vector<ScreenInfo> screens = services_.displays.screens();
  for (const ScreenInfo& screen : screens) {
    if (screen.frame.x == 0 && screen.frame.y == 0) {
      height = screen.frame.height;
      found = true;
      break;
    }
  }
  if (!found) {
    const uint32_t main = services_.displays.mainDisplayID();
    for (const ScreenInfo& screen : screens) {
      if (screen.screenNumber == main) {
        height = screen.frame.height;
        break;
      }
    }
  }
  return {rect.minX(), height - rect.maxY(), rect.width, rect.height};
}

void WindowMover::logResult(const std::vector<MoveRefusal>& refusals, const std::string& appName, bool movedDisplay,
                            bool movedDesktop) {
  if (refusals.empty()) {
    logger().notice("moved a window of %{private}s (display: %{public}s, desktop: %{public}s)", appName,
                    movedDisplay ? "true" : "false", movedDesktop ? "true" : "false");
    return;
  }
  for (const MoveRefusal& refusal : refusals) {
    if (refusal.reason == MoveRefusal::Reason::appPutItBack) {
      const Rect& t = refusal.target;
      const Rect& l = refusal.landed;
      logger().notice("did not move a window of %{private}s: %{public}s (%.1f, %.1f, %.1f, %.1f) (%.1f, %.1f, %.1f, %.1f)",
                      appName, std::string(refusal.caseName()), t.x, t.y, t.width, t.height, l.x, l.y, l.width,
                      l.height);
    } else {
      logger().notice("did not move a window of %{private}s: %{public}s", appName, std::string(refusal.caseName()));
    }
  }
}

}  // namespace quorvel
