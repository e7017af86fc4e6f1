#include "actions/MoveRefusal.h"

#include "windows/DesktopMap.h"
#include "windows/Hasher.h"

namespace quorvel {

std::string_view MoveRefusal::message() const {
  switch (reason) {
    case Reason::notAWindow: return "This app has no window open.";
    case Reason::tabHasNoWindowOfItsOwn: return "This is a tab. Move the browser window instead.";
    case Reason::minimized: return "Bring this window back from the taskbar first.";
    case Reason::appIsHidden: return "Show this app again first.";
    case Reason::fullScreen: return "This window is full screen. Leave full screen first.";
    case Reason::onEveryDesktop: return "This app is set to appear on every desktop.";
    case Reason::noAccessibilityHandle:
      return "The window manager will not say where this window is, so it cannot be moved to another screen.";
    case Reason::positionNotSettable: return "This window cannot be moved.";
    case Reason::appPutItBack: return "The app put this window back where it was. If it is tiled, untile it first.";
    case Reason::desktopMovesUnavailable: return "This window manager does not let apps move windows between desktops.";
    case Reason::desktopMoveDidNotLand: return "The window manager did not move this window to that desktop.";
    case Reason::accessibilityNotGranted: return "Quorvel needs Accessibility permission to move windows.";
    case Reason::destinationNotOnThatDisplay: return "That desktop is not on that screen.";
  }
  return "This window cannot be moved.";
}

std::string_view MoveRefusal::caseName() const {
  switch (reason) {
    case Reason::notAWindow: return "notAWindow";
    case Reason::tabHasNoWindowOfItsOwn: return "tabHasNoWindowOfItsOwn";
    case Reason::minimized: return "minimized";
    case Reason::appIsHidden: return "appIsHidden";
    case Reason::fullScreen: return "fullScreen";
    case Reason::onEveryDesktop: return "onEveryDesktop";
    case Reason::noAccessibilityHandle: return "noAccessibilityHandle";
    case Reason::positionNotSettable: return "positionNotSettable";
    case Reason::appPutItBack: return "appPutItBack";
    case Reason::desktopMovesUnavailable: return "desktopMovesUnavailable";
    case Reason::desktopMoveDidNotLand: return "desktopMoveDidNotLand";
    case Reason::accessibilityNotGranted: return "accessibilityNotGranted";
    case Reason::destinationNotOnThatDisplay: return "destinationNotOnThatDisplay";
  }
  return "positionNotSettable";
}

bool MoveRefusal::operator==(const MoveRefusal& other) const {
  if (reason != other.reason) return false;
  if (reason != Reason::appPutItBack) return true;
  return target.standardized() == other.target.standardized() && landed.standardized() == other.landed.standardized();
}

}  // namespace quorvel

size_t std::hash<quorvel::MoveRefusal>::operator()(const quorvel::MoveRefusal& value) const {
  quorvel::Hasher hasher;
  hasher.combine(static_cast<uint64_t>(value.reason));
  if (value.reason == quorvel::MoveRefusal::Reason::appPutItBack) {
    quorvel::hashRect(hasher, value.target);
    quorvel::hashRect(hasher, value.landed);
  }
  return static_cast<size_t>(hasher.finalize());
}
