#pragma once

namespace quorvel {

// The damped oscillator behind every spring of the scene, stepped semi-implicitly in sub-steps of
// at most 1/240 s (shorter when a very stiff spring needs it to stay stable):
// velocity += h × (−ω² × (value − target) − c × velocity), then value += h × velocity. A value or
// velocity that is not finite is put back on the target at rest, so a spring never carries a NaN.
struct SceneSpring {
  double omega = 0;    // 2π / period
  double damping = 0;  // c

  // A spring of the given period (seconds; a non-positive period reads as 1 ms) with c = ratio × ω.
  static SceneSpring withPeriod(double period, double dampingFactor);

  void step(double& value, double& velocity, double target, double dt) const;
  // Settled when |value − target| < valueThreshold and |velocity| < velocityThreshold: then
  // value = target and velocity = 0 exactly. Returns whether it settled.
  static bool settle(double& value, double& velocity, double target, double valueThreshold,
                     double velocityThreshold);
};

}  // namespace quorvel
