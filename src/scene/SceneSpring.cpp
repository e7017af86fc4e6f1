#include "scene/SceneSpring.h"

#include <algorithm>
#include <cmath>

namespace quorvel {

SceneSpring SceneSpring::withPeriod(double period, double dampingFactor) {
  const double safe = std::isfinite(period) && period > 0.001 ? period : 0.001;
  SceneSpring spring;
  spring.omega = 6.283185307179586 / safe;
  spring.damping = dampingFactor * spring.omega;
  return spring;
}

void SceneSpring::step(double& value, double& velocity, double target, double dt) const {
  if (!(dt > 0) || !std::isfinite(dt)) return;
  if (!std::isfinite(value) || !std::isfinite(velocity) || !std::isfinite(target)) {
    value = std::isfinite(target) ? target : 0;
    velocity = 0;
    return;
  }
  // 1/240 s sub-steps; a stiffer spring than any setting gives takes more, so ωh stays below 0.5.
  const double bySpan = std::ceil(dt * 240 - 1e-9);
  const double byStiffness = std::ceil(dt * omega / 0.5);
  const int subSteps = static_cast<int>(std::clamp(std::max(bySpan, byStiffness), 1.0, 4096.0));
  const double h = dt / subSteps;
  const double omega2 = omega * omega;
  for (int i = 0; i < subSteps; ++i) {
    velocity += h * (-omega2 * (value - target) - damping * velocity);
    value += h * velocity;
  }
}

bool SceneSpring::settle(double& value, double& velocity, double target, double valueThreshold,
                         double velocityThreshold) {
  if (std::fabs(value - target) < valueThreshold && std::fabs(velocity) < velocityThreshold) {
    value = target;
    velocity = 0;
    return true;
  }
  return false;
}

}  // namespace quorvel
