#include "overlay/OverlayKeyboardState.h"

#include "base/Logger.h"

namespace quorvel {

const char* OverlayKeyboardState::routeWord(DismissLogRoute route) {
  switch (route) {
    case DismissLogRoute::local:
      return "local";
    case DismissLogRoute::tap:
      return "tap";
    case DismissLogRoute::tapRepair:
      return "tapRepair";
  }
  return "local";
}

const char* OverlayKeyboardState::outcomeText(DismissOutcome outcome) {
  switch (outcome) {
    case DismissOutcome::leftSearch:
      return "left the search, switcher stays up";
    case DismissOutcome::dismissed:
      return "dismissed the switcher";
    case DismissOutcome::leftToOverlay:
      return "left to the overlay's own keyboard route";
    case DismissOutcome::nothingOnScreen:
      return "nothing on screen to dismiss";
  }
  return "";
}

void OverlayKeyboardState::logDismiss(DismissLogRoute route, DismissOutcome outcome, bool keyWindow, bool appActive,
                                      bool searchOpen) {
  // Never destroyed: threads still running as the process ends may log.
  static const Logger& logger = *new Logger("Dismiss");
  logger.notice("[%{public}s] %{public}s, key=%{public}s appActive=%{public}s search=%{public}s", routeWord(route),
                outcomeText(outcome), keyWindow ? "true" : "false", appActive ? "true" : "false",
                searchOpen ? "open" : "closed");
}

}  // namespace quorvel
