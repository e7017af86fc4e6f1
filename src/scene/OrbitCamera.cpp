#include "scene/OrbitCamera.h"

#include <algorithm>
#include <cmath>

namespace quorvel {
namespace {

constexpr double kTwoPi = 6.283185307179586;
constexpr double kMaxSubStep = 0.004166666666666667;  // 1/240 s

bool isLastOfPile(int64_t card, const ClusterAssignment& clusters) {
  const int64_t n = clusters.cardCount();
  const int64_t r = ((card % n) + n) % n;
  const auto pile = static_cast<size_t>(clusters.ofCard()[static_cast<size_t>(r)]);
  return r == clusters.first()[pile] + clusters.width()[pile] - 1;
}

}  // namespace

double OrbitCamera::clampToCards(double value) const {
  if (mode != FocusMode::clamp || count < 1) return value;
  return std::clamp(value, 0.0, static_cast<double>(count - 1));
}

void OrbitCamera::nudge(double delta) {
  flipFence.reset();
  if (!std::isfinite(delta)) return;
  focus += delta;
  if (mode == FocusMode::clamp && count >= 1) {
    focus = std::clamp(focus, -0.35, static_cast<double>(count - 1) + 0.35);
    target = std::clamp(focus, 0.0, static_cast<double>(count - 1));
  } else {
    target = focus;
  }
  velocity = 0;
}

void OrbitCamera::flick(double v, const ClusterAssignment& clusters) {
  flipFence.reset();
  if (!std::isfinite(v)) return;
  velocity += v;
  if (!std::isfinite(velocity)) velocity = 0;
  if (pilesActive(clusters)) {
    const double places = std::max(clusters.pileCount(), 1);
    const double from = clusters.placePosition(focus);
    const double projected = std::clamp(from + velocity * flickProjection, from - places, from + places);
    const auto rounded = static_cast<int64_t>(std::round(projected));
    const int64_t own = clusters.place(static_cast<int64_t>(std::round(focus)));
    if (rounded == own) {
      target = clampToCards(std::round(target));
    } else {
      target = clampToCards(static_cast<double>(clusters.firstCard(rounded)));
    }
    return;
  }
  const double cards = std::max(count, 1);
  const double projected = std::clamp(focus + velocity * flickProjection, focus - cards, focus + cards);
  target = clampToCards(std::round(projected));
}

void OrbitCamera::hop(int n) {
  flipFence.reset();
  const double base = std::isfinite(target) ? std::round(target) : (std::isfinite(focus) ? std::round(focus) : 0.0);
  target = clampToCards(base + n);
}

void OrbitCamera::stepAround(int n) {
  if (mode != FocusMode::clamp || count < 1) {
    hop(n);
    return;
  }
  flipFence.reset();
  const double base = std::isfinite(target) ? std::round(target) : (std::isfinite(focus) ? std::round(focus) : 0.0);
  const auto from = static_cast<int64_t>(clampToCards(base));
  const int64_t cards = count;
  target = static_cast<double>((((from + n) % cards) + cards) % cards);
}

double OrbitCamera::jump(int index) {
  flipFence.reset();
  const double previous = focus;
  double to = index;
  if (mode == FocusMode::clamp && count >= 1) to = std::clamp(to, 0.0, static_cast<double>(count - 1));
  focus = target = to;
  velocity = 0;
  return previous;
}

void OrbitCamera::snapTarget(const ClusterAssignment& clusters) {
  flipFence.reset();
  if (!clusters.bunches() || !clusters.covers(count) || !std::isfinite(focus)) return;
  const double place = std::round(clusters.placePosition(focus));
  target = clampToCards(static_cast<double>(clusters.firstCard(static_cast<int64_t>(place))));
}

double OrbitCamera::walk(double from, double m, const ClusterAssignment& clusters) const {
  if (clusters.cardCount() == 0 || !clusters.bunches() || !std::isfinite(from) || !std::isfinite(m) ||
      std::fabs(from) >= 1e9 || std::fabs(m) >= 1e9) {
    return from + m;
  }
  if (std::fabs(m) <= 1e-12) return from;
  const bool forward = m > 0;
  double remaining = std::fabs(m);
  double x = from;
  for (int steps = 0; steps < 4096; ++steps) {
    const auto card = static_cast<int64_t>(forward ? std::floor(x) : std::ceil(x) - 1);
    const double boundary = static_cast<double>(forward ? card + 1 : card);
    if (!isLastOfPile(card, clusters)) {
      x = boundary;  // inside a pile: free
      continue;
    }
    const double length = std::fabs(boundary - x);
    if (remaining < length) {
      x += forward ? remaining : -remaining;
      break;
    }
    remaining -= length;
    x = boundary;
    if (remaining <= 0) break;
  }
  return x;
}

double OrbitCamera::step(double dt, const ClusterAssignment& clusters, bool pileSteps) {
  if (!(dt > 0) || !std::isfinite(dt)) return focus;
  if (!std::isfinite(focus) || !std::isfinite(target) || !std::isfinite(velocity)) {
    // A camera that lost its numbers rests on its target (or the first card).
    target = std::isfinite(target) ? target : 0;
    focus = target;
    velocity = 0;
    return focus;
  }
  const double omega = kTwoPi / (0.3 * std::max(responseScale, 0.1));
  const double damping = 2 * dampingRatio * omega;
  const double span = std::min(dt, 1.0 / 30);
  const bool piles = pileSteps && pilesActive(clusters);
  const int subSteps = std::max(1, static_cast<int>(std::ceil(span / kMaxSubStep - 1e-9)));
  const double h = span / subSteps;
  const double targetPlace = piles ? clusters.placePosition(target) : target;
  for (int i = 0; i < subSteps; ++i) {
    if (piles) {
      const double a = -omega * omega * (clusters.placePosition(focus) - targetPlace) - damping * velocity;
      velocity += h * a;
      focus = walk(focus, h * velocity, clusters);
    } else {
      const double a = -omega * omega * (focus - target) - damping * velocity;
      velocity += h * a;
      focus += h * velocity;
    }
    if (flipFence) {
      const double fenced = std::clamp(focus, static_cast<double>(flipFence->first),
                                       static_cast<double>(std::max(flipFence->first, flipFence->last)));
      if (fenced != focus) {
        focus = fenced;
        velocity = 0;
      }
    }
  }
  const double gap = piles ? clusters.placePosition(focus) - targetPlace : focus - target;
  if (std::fabs(gap) < 0.0001 && std::fabs(velocity) < 0.001) {
    focus = target;
    velocity = 0;
  }
  return focus;
}

}  // namespace quorvel
