#include "scene/PileLook.h"

#include <algorithm>
#include <cmath>

#include "scene/SceneMath.h"

namespace quorvel {

PileLook PileLook::member(int index, int count, const ClusterAssignment& assignment, double focus,
                          std::optional<double> flipFocus, float pileWeight, const StackTuning& tuning,
                          double flipReach) {
  if (assignment.isEmpty() || !assignment.covers(count) || index < 0 || index >= count) {
    PileLook look;
    look.scale = 0;
    look.frontVisibility = 0;
    look.rankFade = 0;
    look.width = 0;
    look.empty = true;
    return look;
  }
  PileLook look;
  look.place = static_cast<int>(assignment.place(index));
  look.placeCount = assignment.pileCount();
  look.placeFocus = assignment.placePosition(focus);
  const float w = std::isfinite(pileWeight) ? pileWeight : 0.0f;
  if (!assignment.bunches() || w <= 0) return look;

  const int64_t a = assignment.firstCard(look.place);
  const int64_t b = assignment.lastCard(look.place);
  const double distance = ClusterAssignment::circularDistance(look.place, look.placeFocus, look.placeCount);
  const double closeness = std::isfinite(distance) ? scene::smoothstep(1 - distance) : 0.0;
  const double inner = ClusterAssignment::unwrap(flipFocus.value_or(focus), static_cast<double>(a),
                                                 static_cast<double>(b), count);
  const double span = static_cast<double>(std::max<int64_t>(b - a + 1, 1) - 1);
  const double local = std::isfinite(inner) ? std::clamp(inner - static_cast<double>(a), 0.0, span) : 0.0;
  const double reach = std::isfinite(flipReach) ? std::clamp(flipReach, 0.0, 1.0) : 1.0;
  const double spread = reach * closeness;

  const double closedRank = static_cast<double>(index - a);
  const double openRank = static_cast<double>(index) - (static_cast<double>(a) + local);
  const double ranks = tuning.drawRanks > 0 ? static_cast<double>(tuning.drawRanks) + 1 : 1.0;
  auto blended = [&](auto quantity) {
    const double closed = quantity(closedRank);
    const double open = quantity(openRank);
    if (spread <= 0) return static_cast<float>(closed);
    if (spread >= 1) return static_cast<float>(open);
    return static_cast<float>(closed + (open - closed) * spread);
  };
  const float lateral = blended([&](double r) { return tuning.peekWidth * std::clamp(r, -3.0, 3.0); });
  const float depth = blended([](double r) { return 0.015 * std::min(std::fabs(r), 3.0); });
  const float step = blended([&](double r) { return 0.03 * std::min(std::fabs(r), ranks); });
  const float tilt = blended([&](double r) { return std::clamp(tuning.fanPerRank * r, -0.20943952, 0.20943952); });
  const float scale = blended([](double r) { return std::max(1 - 0.15 * std::min(std::fabs(r), 3.0), 0.55); });
  const float front = blended([](double r) { return scene::smoothstep(std::clamp(1 - std::fabs(r), 0.0, 1.0)); });
  const float fade = blended([&](double r) {
    return scene::smoothstep(std::clamp(static_cast<double>(tuning.drawRanks) + 1 - std::fabs(r), 0.0, 1.0));
  });

  look.lateral = lateral * w;
  look.depth = depth * w;
  look.step = step * w;
  look.tilt = tilt * w;
  look.scale = 1 - w * (1 - scale);
  look.frontVisibility = 1 - w * (1 - front);
  look.rankFade = 1 - w * (1 - fade);
  look.width = static_cast<int>(std::max<int64_t>(b - a + 1, 1));
  return look;
}

std::optional<PileLook> PileLook::lookOf(int index, int count, const ClusterAssignment& assignment, double focus,
                                         std::optional<double> flipFocus, float pileWeight,
                                         const StackTuning& tuning, double flipReach) {
  PileLook look = member(index, count, assignment, focus, flipFocus, pileWeight, tuning, flipReach);
  if (look.empty) return std::nullopt;
  return look;
}

}  // namespace quorvel
