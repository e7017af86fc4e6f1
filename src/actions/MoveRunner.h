#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "actions/MovePlan.h"
#include "actions/WindowMover.h"
#include "base/Task.h"
#include "platform/AXElement.h"

namespace quorvel {

class AXFunnel;
class OwnApplication;

// The window a move is carried out on.
struct MoveSubject {
  AXElementRef element;  // its Accessibility element; none when unknown
  uint32_t windowID = 0;
  int32_t pid = 0;
  std::string appName;
  bool isOwnWindow = false;  // one of this program's windows (`windowID` is its number)
};

// What a move came to: every refusal (the plan's first, then the failed steps'), and which kinds
// of move were made.
struct MoveOutcome {
  std::vector<MoveRefusal> refusals;
  bool movedDisplay = false;
  bool movedDesktop = false;
};

// Carries out a plan's steps in order on the main queue, hopping to the Accessibility queue for the
// frame steps; a failed step does not stop the ones after it. Logs the outcome through
// WindowMover::logResult. `desktopMovesOffered`: whether the window manager offers desktop moves
// at all (a desktop move that did not land is then desktopMoveDidNotLand, else
// desktopMovesUnavailable). The mover, the queue and the application outlive the task.
Task<MoveOutcome> runMoveSteps(const WindowMover& mover, AXFunnel& funnel, OwnApplication& ownApplication,
                               MoveSubject subject, std::vector<MovePlan::Step> steps,
                               std::vector<MoveRefusal> refusals, bool desktopMovesOffered);

}  // namespace quorvel
