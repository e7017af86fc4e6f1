#include "actions/MoveRunner.h"

#include "ax/AXFunnel.h"
#include "platform/OwnApplication.h"

namespace quorvel {

Task<MoveOutcome> runMoveSteps(const WindowMover& mover, AXFunnel& funnel, OwnApplication& ownApplication,
                               MoveSubject subject, std::vector<MovePlan::Step> steps,
                               std::vector<MoveRefusal> refusals, bool desktopMovesOffered) {
  using Reason = MoveRefusal::Reason;
  MoveOutcome outcome;
  outcome.refusals = std::move(refusals);
  for (const MovePlan::Step& step : steps) {
    if (const auto* geometry = std::get_if<MovePlan::Geometry>(&step)) {
      if (!subject.element) {
        outcome.refusals.push_back(MoveRefusal::of(Reason::noAccessibilityHandle));
        continue;
      }
      const Rect target = geometry->target;
      const WindowMover::GeometryResult result =
          co_await funnel.run([&] { return mover.applyGeometry(subject.element, subject.pid, target); });
      if (const auto* refusal = std::get_if<MoveRefusal>(&result)) {
        outcome.refusals.push_back(*refusal);
      } else {
        outcome.movedDisplay = true;
      }
    } else if (const auto* own = std::get_if<MovePlan::OwnGeometry>(&step)) {
      // Our own window's frame goes through the application object, in its own coordinates.
      if (!subject.isOwnWindow || !ownApplication.setFrame(subject.windowID, mover.globalFrame(own->target))) {
        outcome.refusals.push_back(MoveRefusal::of(Reason::positionNotSettable));
      } else {
        outcome.movedDisplay = true;
      }
    } else if (const auto* desktop = std::get_if<MovePlan::Desktop>(&step)) {
      if (co_await mover.waitForDesktopLanding(subject.windowID, desktop->spaceID)) {
        outcome.movedDesktop = true;
      } else {
        outcome.refusals.push_back(
            MoveRefusal::of(desktopMovesOffered ? Reason::desktopMoveDidNotLand : Reason::desktopMovesUnavailable));
      }
    }
  }
  WindowMover::logResult(outcome.refusals, subject.appName, outcome.movedDisplay, outcome.movedDesktop);
  co_return outcome;
}

}  // namespace quorvel
