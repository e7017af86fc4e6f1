// The navigation mutations of SceneState: what keys, the pointer, scrolls and swipes do to the scene.
#include <algorithm>
#include <cmath>

#include "scene/SceneState.h"

namespace quorvel {
namespace {

using scene::nearest;
using scene::wrapIndex;

int liveCards(const SceneStorage& s) { return std::min(s.cardCount(), s.liveCount); }

}  // namespace

void SceneState::releasePointer(Storage& s) {
  if (s.pointerHighlightID) {
    s.pointerHighlightID.reset();
    s.reportedFocus = -1;
  }
}

void SceneState::settleGestureHops(Storage& s) {
  if (!s.gestureHops) return;
  s.orbit.snapTarget(effectiveClusters(s));
  s.gestureHops = false;
}

void SceneState::beginGestureHops(Storage& s) {
  if (!s.gestureHops && !s.flipFocus) s.flipFocus = s.orbit.focus;
  s.gestureHops = true;
}

int SceneState::shortestDelta(const Storage& s, int index, int current) {
  const int n = liveCards(s);
  int delta = index - current;
  if (s.orbit.mode != OrbitCamera::FocusMode::wrap || n < 1) return delta;
  const ClusterAssignment& clusters = effectiveClusters(s);
  double d = delta;
  double half = n / 2.0;
  if (clusters.covers(n) && clusters.pileCount() > 0) {
    d = static_cast<double>(clusters.place(index) - clusters.place(current));
    half = clusters.pileCount() / 2.0;
  }
  if (d > half) {
    delta -= n;
  } else if (d < -half) {
    delta += n;
  }
  return delta;
}

void SceneState::commitPointerHighlight(Storage& s) {
  if (!s.pointerHighlightID) return;
  const int n = liveCards(s);
  const auto& cards = s.cardList();
  for (int i = 0; i < n; ++i) {
    if (cards[static_cast<size_t>(i)].id != *s.pointerHighlightID) continue;
    const int current = focusedIndex(s);
    if (i != current) {
      const int delta = shortestDelta(s, i, current);
      if (delta != 0) s.orbit.hop(delta);
    }
    break;
  }
  s.pointerHighlightID.reset();
  s.reportedFocus = -1;
}

std::optional<CardPile> SceneState::flipPile(const Storage& s) {
  const int n = liveCards(s);
  if (n < 1 || !s.layout.current()->allowsPiles()) return std::nullopt;
  const ClusterAssignment& clusters = s.clusters;
  if (!clusters.covers(n) || !clusters.bunches()) return std::nullopt;
  const int card = wrapIndex(nearest(s.orbit.focus), n);
  const auto pile = static_cast<size_t>(clusters.ofCard()[static_cast<size_t>(card)]);
  const int first = clusters.first()[pile];
  const int width = clusters.width()[pile];
  if (width <= 1) return std::nullopt;
  return CardPile{first, first + width - 1};
}

void SceneState::applyStyle(Storage& s, OrbitCamera::FocusMode mode, bool animated, LayoutRef layout,
                            double dampingRatio) {
  s.focusMode = mode;
  s.orbit.flipFence.reset();
  OrbitCamera& orbit = s.orbit;
  if (mode == OrbitCamera::FocusMode::clamp && orbit.mode != OrbitCamera::FocusMode::clamp && orbit.count >= 1) {
    const double count = orbit.count;
    const double lead = orbit.target - orbit.focus;
    if (std::isfinite(orbit.focus)) orbit.focus -= std::floor(orbit.focus / count) * count;
    const double target = orbit.focus + (std::isfinite(lead) ? lead : 0.0);
    orbit.target = std::clamp(target, 0.0, count - 1);
  }
  orbit.mode = mode;
  if (std::isfinite(dampingRatio)) orbit.dampingRatio = dampingRatio;
  if (!layout) return;
  if (animated && s.isRunning && liveCards(s) >= 1) {
    if (s.layout.outgoing() && s.styleProgress < 0.5) {
      s.layout.setCurrent(std::move(layout));
    } else {
      s.layout = LayoutBlend(std::move(layout), s.layout.current(), 0.0f);
      s.styleProgress = 0;
      s.styleVelocity = 0;
    }
  } else {
    s.layout = LayoutBlend(std::move(layout), nullptr, 1.0f);
    s.styleProgress = 1;
    s.styleVelocity = 0;
  }
}

void SceneState::scroll(Storage& s, double delta) {
  s.focusIntent = FocusChangeSource::pointer;
  releasePointer(s);
  s.keyboardHop = false;
  beginGestureHops(s);
  const ClusterAssignment& clusters = effectiveClusters(s);
  double cards = delta;
  if (std::isfinite(delta) && clusters.bunches() && clusters.covers(s.orbit.count) && std::isfinite(s.orbit.focus)) {
    const double place = clusters.placePosition(s.orbit.focus) + delta;
    cards = clusters.cardPosition(place) - s.orbit.focus;
  }
  s.orbit.nudge(cards);
}

void SceneState::endScroll(Storage& s, double velocity) {
  s.focusIntent = FocusChangeSource::pointer;
  releasePointer(s);
  s.keyboardHop = false;
  beginGestureHops(s);
  s.orbit.flick(velocity, effectiveClusters(s));
}

std::optional<CardPile> SceneState::flipStack(Storage& s, double delta) {
  const auto pile = flipPile(s);
  if (!pile) return std::nullopt;
  s.focusIntent = FocusChangeSource::pointer;
  releasePointer(s);
  s.keyboardHop = false;
  settleGestureHops(s);
  if (std::isfinite(delta) && std::isfinite(s.orbit.focus)) {
    s.orbit.flipFence = pile;
    s.orbit.focus = s.orbit.target =
        std::clamp(s.orbit.focus + delta, static_cast<double>(pile->first), static_cast<double>(pile->last));
    s.orbit.velocity = 0;
  }
  return pile;
}

std::optional<CardPile> SceneState::endFlip(Storage& s, double velocity) {
  const auto pile = flipPile(s);
  if (!pile) return std::nullopt;
  s.focusIntent = FocusChangeSource::pointer;
  releasePointer(s);
  s.keyboardHop = false;
  settleGestureHops(s);
  if (std::isfinite(velocity) && std::isfinite(s.orbit.focus)) {
    s.orbit.flipFence = pile;
    s.orbit.velocity = velocity + (std::isfinite(s.orbit.velocity) ? s.orbit.velocity : 0.0);
    const double projected = s.orbit.focus + s.orbit.velocity * s.orbit.flickProjection;
    s.orbit.target = std::clamp(static_cast<double>(nearest(projected)), static_cast<double>(pile->first),
                                static_cast<double>(pile->last));
  }
  return pile;
}

void SceneState::step(Storage& s, int cards) {
  s.focusIntent = FocusChangeSource::keyboard;
  s.keyboardHop = false;
  settleGestureHops(s);
  commitPointerHighlight(s);
  s.orbit.stepAround(cards);
}

void SceneState::selectHovered(Storage& s, int index) {
  releasePointer(s);
  const int n = liveCards(s);
  if (n < 1) return;
  const int current = focusedIndex(s);
  if (index < 0 || index >= n || index == current) return;
  const int delta = shortestDelta(s, index, current);
  if (delta == 0) return;
  s.focusIntent = FocusChangeSource::pointer;
  s.orbit.hop(delta);
}

bool SceneState::setPointerHighlight(Storage& s, std::optional<int> index) {
  const int n = liveCards(s);
  if (index && *index >= 0 && *index < n) {
    const uint32_t id = s.cardList()[static_cast<size_t>(*index)].id;
    if (s.pointerHighlightID == id) return false;
    s.pointerHighlightID = id;
    return true;
  }
  if (!s.pointerHighlightID) return false;
  s.pointerHighlightID.reset();
  return true;
}

void SceneState::setHoveredAction(Storage& s, std::optional<CardAction> action) { s.hoveredAction = action; }

void SceneState::move(Storage& s, uint8_t direction) {
  const int n = liveCards(s);
  if (n < 1) return;
  commitPointerHighlight(s);
  s.keyboardHop = false;
  settleGestureHops(s);

  const int current = focusedIndex(s);
  const ClusterAssignment& clusters = effectiveClusters(s);
  const bool onPiles = clusters.covers(n) && clusters.pileCount() > 0;
  const int c = onPiles ? static_cast<int>(clusters.place(current)) : current;
  const int size = onPiles ? clusters.pileCount() : n;
  const auto neighbour = s.layout.current()->neighbour(c, size, direction, n);
  if (!neighbour) return;
  s.focusIntent = FocusChangeSource::keyboard;
  if (s.orbit.mode == OrbitCamera::FocusMode::clamp && (*neighbour < 0 || *neighbour >= size)) return;
  const auto destination =
      static_cast<int>(onPiles ? clusters.selectedCard(*neighbour, static_cast<double>(current)) : *neighbour);

  const bool sideways = direction == LayoutEngine::left || direction == LayoutEngine::right;
  const double d = static_cast<double>(*neighbour - c);
  const double distance = onPiles ? std::fabs(d - nearest(d / size) * static_cast<double>(size)) : std::fabs(d);
  if (sideways && distance <= 1) {
    if (!s.flipFocus) s.flipFocus = s.orbit.focus;
    s.keyboardHop = true;
    s.orbit.hop(destination - current);
    return;
  }
  glide(s, destination, !sideways);
}

void SceneState::glide(Storage& s, int destination, bool vertical) {
  const double previous = s.orbit.jump(destination);
  const double delta = std::isfinite(previous) ? previous - s.orbit.focus : 0.0;
  if (delta == 0) return;
  const auto live = static_cast<size_t>(std::min(s.liveCount, static_cast<int>(s.morphs.size())));

  for (size_t i = live; i < s.morphs.size(); ++i) {
    s.morphs[i].from.focusShift += delta;
    s.morphs[i].to.focusShift += delta;
  }

  bool pureGlide = s.reformActive;
  for (size_t i = 0; pureGlide && i < live; ++i) {
    const CardMorph& m = s.morphs[i];
    pureGlide = m.from.index == m.to.index && m.from.count == m.to.count;
  }

  if (s.reformActive && !pureGlide) {
    // Another re-formation runs: it carries on, its sources following the camera's jump.
    for (size_t i = 0; i < live; ++i) s.morphs[i].from.focusShift += delta;
  } else {
    double progress = 0;
    double velocity = 0;
    double p = 1;
    double running = 0;
    bool reverses = false;
    if (s.reformActive && live > 0) {
      p = std::clamp(s.reformProgress, 0.0, 1.0);
      const double v = s.reformVelocity;
      running = s.morphs[0].to.focusShift - s.morphs[0].from.focusShift;
      reverses = std::fabs(delta - running) <= std::max(std::fabs(running), 1.0) * 1e-9;
      if (reverses) {
        progress = 1 - p;
        velocity = std::isfinite(v) ? std::clamp(-v, -60.0, 60.0) : 0.0;
      } else {
        const double r = delta - (1 - p) * running;
        const double quotient = running * v / -r;
        velocity = (std::fabs(r) > 1e-6 && std::isfinite(quotient)) ? std::clamp(quotient, -60.0, 60.0) : 0.0;
      }
    }
    const bool carriesRemainder = s.reformActive && !reverses;
    for (size_t i = 0; i < live; ++i) {
      CardMorph& m = s.morphs[i];
      const double remainder = carriesRemainder ? (1 - p) * (m.from.focusShift - m.to.focusShift) : 0.0;
      m.from = CardSlot{m.to.index, m.to.count, m.to.focusShift + delta + remainder};
    }
    s.reformActive = true;
    s.reformProgress = progress;
    s.reformVelocity = velocity;
    s.reformFromCount = s.liveCount;
    s.clustersFrom = s.clusters;
  }
  s.reformResponse = (vertical ? 0.22 : 0.28) * s.speedScale;
  s.reformDamping = vertical ? 0.85 : 0.95;
}

}  // namespace quorvel
