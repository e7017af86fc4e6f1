#pragma once

#include <optional>

#include "scene/CardPile.h"
#include "scene/ClusterAssignment.h"

namespace quorvel {

// The spring that moves the scene's focus (the fractional card position at the centre of the view)
// toward a target card. In wrap mode focus and target may run past the ends (every consumer reduces
// them modulo the card count); in clamp mode they stay within the cards. While piles are active the
// spring runs on place positions, so a pile of many cards is crossed as quickly as a single card.
// A plain value kept in the scene storage: only touched under the scene lock (the render thread
// steps it, the main thread sets its target). Non-finite inputs are ignored, never stored.
struct OrbitCamera {
  enum class FocusMode { wrap = 0, clamp = 1 };

  double responseScale = 1.0;  // at or below 0.1 counts as 0.1
  double dampingRatio = 0.92;
  double flickProjection = 0.25;  // seconds of velocity projected by a flick
  double focus = 0;
  double target = 0;
  double velocity = 0;  // cards per second (places per second while piles are active)
  int count = 0;
  FocusMode mode = FocusMode::wrap;
  std::optional<CardPile> flipFence;  // while set the focus cannot leave this pile

  // Every operation except step first clears the flip fence.

  // Scrolling: focus += delta; in clamp mode the focus keeps within 0.35 of the ends and the target
  // is the focus clamped to the cards; in wrap mode the target is the focus. Velocity 0.
  void nudge(double delta);
  // End of a scroll: adds v to the velocity and sets the target to the rounded projection (at most
  // max(count, 1) cards, or piles, either side of the focus). `clusters` are the effective piles.
  void flick(double v, const ClusterAssignment& clusters);
  // target = round(target) + n, clamped in clamp mode. Focus and velocity are untouched.
  void hop(int n);
  // A keyboard step: hop by n, except that in clamp mode a step that would leave the cards goes
  // round to the other end (the camera flies back across them); in wrap mode the same as hop.
  void stepAround(int n);
  // focus = target = index (clamped in clamp mode); velocity 0; returns the previous focus.
  double jump(int index);
  // With piles active, sets the target to the first card of the pile nearest the focus (a pile
  // folded by a hop shows its first card); otherwise nothing changes.
  void snapTarget(const ClusterAssignment& clusters);
  // Integrates dt (capped at 1/30 s) in sub-steps of at most 1/240 s; `pileSteps` runs the spring
  // on places when the clusters bunch and cover the cards. Returns the new focus.
  double step(double dt, const ClusterAssignment& clusters, bool pileSteps);

  // Whether piles shape the camera's motion for these clusters.
  bool pilesActive(const ClusterAssignment& clusters) const {
    return clusters.bunches() && clusters.covers(count);
  }
  // The focus after walking a movement of m places from `from` onto card positions: cards inside a
  // pile are crossed at no cost, the last card of a pile costs its length.
  double walk(double from, double m, const ClusterAssignment& clusters) const;

 private:
  double clampToCards(double value) const;
};

}  // namespace quorvel
