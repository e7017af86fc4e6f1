#include "windows/RefreshCadence.h"

#include <cmath>

#include "platform/InputIdle.h"

namespace quorvel {

std::optional<double> RefreshCadence::idleSeconds(InputIdle& inputIdle) {
  std::optional<double> best;
  for (InputIdle::Source source : {InputIdle::Source::hidSystem, InputIdle::Source::combinedSession}) {
    const std::optional<double> reading = inputIdle.secondsSinceLastEvent(source);
    if (!reading || !std::isfinite(*reading) || *reading < 0) continue;
    if (!best || *reading < *best) best = *reading;
  }
  return best;
}

Duration RefreshCadence::interval(double idle, double since) {
  if (std::isnan(idle) || idle < 0) return kFast;
  double quiet = idle;
  if (since <= 0) {
    if (idle > 0) return kFast;
  } else if (since < idle) {
    quiet = since;
  }
  return quiet < kQuietSeconds ? kFast : kSlow;
}

}  // namespace quorvel
