#include "scene/SceneState.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>

#include "scene/PileLook.h"
#include "scene/SceneSpring.h"

namespace quorvel {
namespace {

using scene::nearest;
using scene::wrapIndex;

constexpr double kMaxFrameStep = 1.0 / 30;
// The flight out follows the clock instead: it ends on time however long each frame takes to draw
// (a late frame moves the cards further), so the dismissal lasts as long with 500 cards as with 5.
constexpr double kDismissCompletion = 0.6;

bool hasCardID(const SceneStorage& s, uint32_t id, int* at = nullptr) {
  const int n = std::min(s.cardCount(), s.liveCount);
  const auto& cards = s.cardList();
  for (int i = 0; i < n; ++i) {
    if (cards[static_cast<size_t>(i)].id == id) {
      if (at) *at = i;
      return true;
    }
  }
  return false;
}

MorphSample sampleOf(const CardMorph& m) {
  MorphSample sample;
  sample.progress = static_cast<float>(m.progress);
  sample.alpha = static_cast<float>(m.alpha);
  sample.from = m.from;
  sample.to = m.to;
  sample.isGhost = m.isGhost;
  sample.pointerHighlight = static_cast<float>(m.pointerHighlight);
  return sample;
}

}  // namespace

SceneState::Storage SceneState::makeStorage() { return Storage{}; }

const ClusterAssignment& SceneState::effectiveClusters(const Storage& s) {
  static const auto* const none = new ClusterAssignment();  // never destroyed
  return s.layout.current()->allowsPiles() ? s.clusters : *none;
}

BadgeAnchor SceneState::iconAnchor(const Storage& s) {
  if (s.iconPosition == AppSettings::IconPosition::topLeft) return BadgeAnchor::topLeft;
  return s.layout.current()->flipsCards() ? BadgeAnchor::topLeft : BadgeAnchor::bottomCenter;
}

int SceneState::focusedIndex(const Storage& s) {
  const int n = std::min(s.cardCount(), s.liveCount);
  if (n < 1) return -1;
  return wrapIndex(nearest(s.orbit.target), n);
}

SceneState::Frame SceneState::advanceFrame(Storage& s, double dt, MorphBuffer& buffer) {
  Frame frame;
  // 1–3: the camera sees the raw time step.
  const bool hopping = s.gestureHops || s.keyboardHop;
  const ClusterAssignment& effective = effectiveClusters(s);
  frame.focus = s.orbit.step(dt, effective, hopping);
  if (s.keyboardHop && s.orbit.focus == s.orbit.target && s.orbit.velocity == 0) s.keyboardHop = false;

  // 4: every other spring at most 1/30 s (the whole flight's length while flying out).
  const double step =
      (dt > 0 && std::isfinite(dt)) ? std::min(dt, s.isDismissing ? kDismissCompletion : kMaxFrameStep) : 0.0;
  const double speed = s.speedScale > 0 && std::isfinite(s.speedScale) ? s.speedScale : 1.0;

  // 5: piles fold while hops run and open again after.
  double reach = std::isfinite(s.flipReach) ? std::clamp(s.flipReach, 0.0, 1.0) : 1.0;
  const double handBack = s.stackTuning.handBackTime;
  if (step > 0 && handBack > 0 && std::isfinite(handBack)) {
    reach = hopping ? std::max(0.0, reach - step / handBack) : std::min(1.0, reach + step / handBack);
  }
  s.flipReach = reach;
  if (!(hopping && reach > 0)) s.flipFocus.reset();

  // 6: focus report.
  if (s.liveCount >= 1) {
    const int index = wrapIndex(nearest(s.orbit.target), s.liveCount);
    if (index != s.reportedFocus) {
      s.reportedFocus = index;
      frame.focusChange = SceneFrame::FocusChange{index, s.focusIntent};
    }
  }

  // 7: style cross-fade.
  if (s.layout.outgoing()) {
    if (step > 0) {
      SceneSpring::withPeriod(0.35 * speed, 1.9).step(s.styleProgress, s.styleVelocity, 1, step);
      if (SceneSpring::settle(s.styleProgress, s.styleVelocity, 1, 0.002, 0.02)) s.layout.setOutgoing(nullptr);
    }
    s.layout.setT(static_cast<float>(s.styleProgress));
  }

  // 8: re-formation.
  if (s.reformActive) {
    if (step > 0) {
      SceneSpring::withPeriod(s.reformResponse, 2 * s.reformDamping)
          .step(s.reformProgress, s.reformVelocity, 1, step);
    }
    if (SceneSpring::settle(s.reformProgress, s.reformVelocity, 1, 0.002, 0.02)) {
      s.reformActive = false;
      s.reformFromCount = s.liveCount;
      s.clustersFrom = s.clusters;
      for (CardMorph& m : s.morphs) {
        if (!m.isGhost) m.from = m.to;
      }
    }
  }

  // 9: pointer presence.
  const double presenceTarget = s.pointerHighlightID ? 1.0 : 0.0;
  if (step > 0) {
    SceneSpring::withPeriod(0.16 * speed, 2).step(s.pointerPresence, s.pointerPresenceVelocity, presenceTarget, step);
    SceneSpring::settle(s.pointerPresence, s.pointerPresenceVelocity, presenceTarget, 0.0001, 0.001);
  }

  // 10: drop trailing ghosts that have faded out (the only path that allocates).
  size_t keep = s.morphs.size();
  while (keep > static_cast<size_t>(s.liveCount) && s.morphs[keep - 1].isGhost && s.morphs[keep - 1].alpha <= 0.004) {
    --keep;
  }
  if (keep < s.morphs.size()) {
    s.morphs.resize(keep);
    s.cards = SceneCards::make(std::vector<CardSnapshot>(s.cards->begin(), s.cards->begin() + static_cast<long>(keep)));
  }

  // 11–12
  if (buffer.values.size() != s.morphs.size()) buffer.values.assign(s.morphs.size(), MorphSample{});
  std::optional<int> highlighted;
  if (s.pointerHighlightID) {
    int at = -1;
    if (hasCardID(s, *s.pointerHighlightID, &at)) highlighted = at;
  }

  // 13: the morphs.
  const SceneSpring travel = SceneSpring::withPeriod((s.isDismissing ? 0.24 : 0.3) * speed, 1.8);
  const SceneSpring fade = SceneSpring::withPeriod(0.18 * speed, 2);
  const SceneSpring highlight = SceneSpring::withPeriod(0.16 * speed, 2);
  bool allNear = true;
  bool allStill = true;
  for (size_t i = 0; i < s.morphs.size(); ++i) {
    CardMorph& m = s.morphs[i];
    const double delay = std::isfinite(m.delay) ? m.delay : 0.0;
    const double travelTime = std::max(0.0, step - delay);
    m.delay = std::max(0.0, delay - step);
    if (travelTime > 0) {
      travel.step(m.progress, m.velocity, m.target, travelTime);
      SceneSpring::settle(m.progress, m.velocity, m.target, 0.0001, 0.001);
    }
    const double highlightTarget = highlighted && *highlighted == static_cast<int>(i) ? 1.0 : 0.0;
    if (step > 0) {
      fade.step(m.alpha, m.alphaVelocity, m.alphaTarget, step);
      SceneSpring::settle(m.alpha, m.alphaVelocity, m.alphaTarget, 0.0001, 0.001);
      highlight.step(m.pointerHighlight, m.pointerHighlightVelocity, highlightTarget, step);
      SceneSpring::settle(m.pointerHighlight, m.pointerHighlightVelocity, highlightTarget, 0.0001, 0.001);
    }
    buffer.values[i] = sampleOf(m);
    const double distance = m.flies ? m.progress - m.target : m.alpha - m.alphaTarget;
    if (!(std::fabs(distance) <= 0.01)) allNear = false;
    if (m.delay > 0 || m.progress != m.target || m.alpha != m.alphaTarget || m.pointerHighlight != highlightTarget ||
        m.velocity != 0 || m.alphaVelocity != 0 || m.pointerHighlightVelocity != 0) {
      allStill = false;
    }
  }

  // 14: a highlight of a card that left is dropped.
  bool highlightDropped = false;
  if (s.pointerHighlightID && !highlighted) {
    s.pointerHighlightID.reset();
    highlightDropped = true;
  }

  // 15: the dismiss completion, handed out once.
  if (s.isDismissing) {
    s.dismissElapsed += step;
    if (allNear || s.dismissElapsed >= kDismissCompletion) {
      frame.completion = std::move(s.completion);
      s.completion = nullptr;
    }
  }

  // 16: rest.
  const bool hopsAfter = s.gestureHops || s.keyboardHop;
  const double presenceGoal = s.pointerHighlightID ? 1.0 : 0.0;
  frame.isAtRest = !s.isDismissing && allStill && !highlightDropped && s.orbit.focus == s.orbit.target &&
                   s.orbit.velocity == 0 && !s.layout.outgoing() && !s.reformActive &&
                   s.pointerPresence == presenceGoal && s.pointerPresenceVelocity == 0 &&
                   s.flipReach == (hopsAfter ? 0.0 : 1.0) && s.liveCount == s.cardCount();

  // 17: the copy.
  frame.cards = s.cards;
  frame.liveCount = s.liveCount;
  frame.reformFromCount = s.reformFromCount;
  frame.reformBlend = static_cast<float>(s.reformProgress);
  frame.clusters = s.clusters;
  frame.clustersFrom = s.clustersFrom;
  frame.stackTuning = s.stackTuning;
  frame.tailTuning = s.tailTuning;
  frame.flipReach = s.flipReach;
  frame.flipFocus = s.flipFocus;
  frame.layout = s.layout;
  frame.isRunning = s.isRunning;
  frame.isDismissing = s.isDismissing;
  frame.showIcons = s.showIcons;
  frame.iconAnchor = iconAnchor(s);
  frame.showReflections = s.showReflections;
  frame.showSelectionRing = s.showSelectionRing;
  frame.showStatusBadges = s.showStatusBadges;
  frame.showCardShadows = s.showCardShadows;
  frame.showTitles = s.showTitles;
  frame.showHeroTitle = s.showHeroTitle;
  frame.fadeSelectedTitle = s.fadeSelectedTitle;
  frame.showActionButtons = s.showActionButtons;
  frame.chromeScale = s.chromeScale;
  frame.hoveredAction = s.hoveredAction;
  frame.pointerPresence = static_cast<float>(s.pointerPresence);
  frame.pointerSelection = highlighted;
  frame.contentsScale = s.contentsScale;
  return frame;
}

SceneState::Completion SceneState::install(Storage& s, InstallOptions o) {
  Completion pending = std::move(s.completion);
  s.completion = nullptr;

  const int n = static_cast<int>(o.snapshots.size());
  s.cards = SceneCards::make(std::move(o.snapshots));
  s.liveCount = n;
  s.speedScale = o.speedScale > 0 && std::isfinite(o.speedScale) ? o.speedScale : 1.0;
  const double start = std::isfinite(o.startFocus) ? o.startFocus : 0.0;

  s.orbit.flipFence.reset();
  s.orbit.count = n;
  s.orbit.mode = s.focusMode;
  s.orbit.focus = start;
  s.orbit.target = (s.focusMode == OrbitCamera::FocusMode::clamp && n > 0)
                       ? std::clamp(start, 0.0, static_cast<double>(n - 1))
                       : start;
  s.orbit.velocity = 0;
  s.orbit.responseScale = s.speedScale;
  s.orbit.flickProjection = std::isfinite(o.flickProjection) ? o.flickProjection : 0.25;

  s.isRunning = true;
  s.isDismissing = false;
  s.dismissElapsed = 0;
  s.showIcons = o.flags.showIcons;
  s.showReflections = o.flags.showReflections;
  s.showSelectionRing = o.flags.showSelectionRing;
  s.showStatusBadges = o.flags.showStatusBadges;
  s.showCardShadows = o.flags.showCardShadows;
  s.showTitles = o.flags.showTitles;
  s.showHeroTitle = o.flags.showHeroTitle;
  s.fadeSelectedTitle = o.flags.fadeSelectedTitle;
  s.showActionButtons = o.flags.showActionButtons;
  s.iconPosition = o.iconPosition;
  s.chromeScale = std::isfinite(o.chromeScale) ? o.chromeScale : 1.0f;
  s.hoveredAction.reset();
  s.pointerHighlightID.reset();
  s.pointerPresence = 0;
  s.pointerPresenceVelocity = 0;
  s.reformActive = false;
  s.reformProgress = 1;
  s.reformVelocity = 0;
  s.reformFromCount = n;
  s.clusters = o.clusters;
  s.clustersFrom = o.clusters;
  s.stackTuning = o.stackTuning;
  s.tailTuning = o.tailTuning;
  s.gestureHops = false;
  s.flipReach = 1.0;
  s.flipFocus.reset();
  s.keyboardHop = false;

  const int focused = n > 0 ? wrapIndex(nearest(start), n) : -1;
  s.reportedFocus = focused;
  s.focusIntent = FocusChangeSource::system;

  const bool piles = s.layout.current()->allowsPiles() && o.clusters.bunches();
  const float pileWeight = s.layout.pileWeight();
  const int half = std::max(n, 2) / 2;
  s.morphs.assign(static_cast<size_t>(n), CardMorph{});
  for (int i = 0; i < n; ++i) {
    CardMorph& m = s.morphs[static_cast<size_t>(i)];
    m.from = m.to = CardSlot{i, n, 0};
    m.flies = true;
    bool fliesIn = o.flyIn && (*s.cards)[static_cast<size_t>(i)].windowRect.isUsable();
    if (fliesIn && piles) {
      const PileLook look = PileLook::member(i, n, o.clusters, start, std::nullopt, pileWeight, s.stackTuning, 1.0);
      fliesIn = look.empty || look.frontVisibility > 0.004f;
    }
    if (fliesIn) {
      const int d = std::abs(i - focused);
      m.progress = 0;
      m.delay = std::min(d, n - d) * 0.09 / half;
    }
  }
  return pending;
}

void SceneState::reform(Storage& s, std::vector<CardSnapshot> snapshots, ClusterAssignment clusters, double focus) {
  if (!s.isRunning || s.isDismissing) return;
  const double oldFocus = std::isfinite(s.orbit.focus) ? s.orbit.focus : 0.0;
  const double newFocus = std::isfinite(focus) ? focus : 0.0;
  // Old slots keep their place on screen: their focus shift absorbs the camera's jump.
  const double shift = oldFocus - newFocus;
  const int oldLive = s.liveCount;
  const bool wasReforming = s.reformActive;
  const SceneCardList oldCards = s.cards;
  const std::vector<CardMorph> oldMorphs = s.morphs;

  std::unordered_map<uint32_t, size_t> oldIndex;
  for (size_t k = 0; k < oldCards->size(); ++k) oldIndex.emplace((*oldCards)[k].id, k);

  const int m = static_cast<int>(snapshots.size());
  std::vector<CardMorph> morphs(static_cast<size_t>(m));
  std::unordered_map<uint32_t, bool> kept;
  for (int j = 0; j < m; ++j) {
    CardMorph& morph = morphs[static_cast<size_t>(j)];
    const auto found = oldIndex.find(snapshots[static_cast<size_t>(j)].id);
    if (found != oldIndex.end()) {
      const CardMorph& old = oldMorphs[found->second];
      morph.progress = old.progress;
      morph.velocity = old.velocity;
      morph.target = old.target;
      morph.alpha = old.alpha;
      morph.alphaVelocity = old.alphaVelocity;
      morph.pointerHighlight = old.pointerHighlight;
      morph.pointerHighlightVelocity = old.pointerHighlightVelocity;
      morph.flies = old.flies;
      morph.from = wasReforming ? old.from : old.to;
      morph.from.focusShift += shift;
      kept[snapshots[static_cast<size_t>(j)].id] = true;
    } else {
      morph.progress = 1;
      morph.target = 1;
      morph.velocity = 0;
      morph.alpha = 0;
      morph.flies = true;
      morph.from = CardSlot{j, m, 0};
    }
    morph.delay = 0;
    morph.alphaTarget = 1;
    morph.to = CardSlot{j, m, 0};
    morph.isGhost = false;
  }

  std::vector<CardSnapshot> cards = std::move(snapshots);
  for (size_t k = 0; k < oldCards->size(); ++k) {
    const CardSnapshot& card = (*oldCards)[k];
    if (kept.count(card.id)) continue;
    CardMorph ghost = oldMorphs[k];
    if (static_cast<int>(k) < oldLive && !ghost.isGhost) {
      ghost.isGhost = true;
      ghost.flies = false;
      ghost.delay = 0;
      const CardSlot slot = (!wasReforming || s.reformProgress >= 0.5) ? ghost.to : ghost.from;
      ghost.from = ghost.to = slot;
    } else if (!(ghost.alpha > 0.004)) {
      continue;
    }
    ghost.alphaTarget = 0;
    ghost.from.focusShift += shift;
    ghost.to.focusShift += shift;
    cards.push_back(card);
    morphs.push_back(ghost);
  }

  const ClusterAssignment oldClusters = s.clusters;
  s.cards = SceneCards::make(std::move(cards));
  s.liveCount = m;
  s.morphs = std::move(morphs);
  s.clusters = std::move(clusters);
  if (s.pointerHighlightID && !hasCardID(s, *s.pointerHighlightID)) s.pointerHighlightID.reset();

  s.orbit.flipFence.reset();
  s.orbit.count = m;
  s.orbit.mode = s.focusMode;
  s.orbit.focus = newFocus;
  s.orbit.target = (s.focusMode == OrbitCamera::FocusMode::clamp && m > 0)
                       ? std::clamp(newFocus, 0.0, static_cast<double>(m - 1))
                       : newFocus;
  s.orbit.velocity = 0;
  s.reportedFocus = m > 0 ? std::clamp(nearest(newFocus), 0, m - 1) : -1;
  s.focusIntent = FocusChangeSource::system;

  if (!wasReforming) {
    s.reformActive = true;
    s.reformProgress = 0;
    s.reformVelocity = 0;
    s.reformFromCount = oldLive;
    s.clustersFrom = oldClusters;
  }
  s.reformResponse = s.speedScale * 0.28;
  s.reformDamping = 0.95;
}

SceneState::Completion SceneState::beginDismissFlight(Storage& s, std::optional<int> chosen, Completion completion) {
  const int n = std::min(s.cardCount(), s.liveCount);
  if (!s.isRunning || n < 1 || s.isDismissing) return completion;
  s.isDismissing = true;
  s.dismissElapsed = 0;
  s.completion = std::move(completion);
  const auto& cards = s.cardList();
  if (!chosen || *chosen < 0 || *chosen >= n) {
    const int f = wrapIndex(nearest(s.orbit.target), n);
    const int half = std::max(n, 2) / 2;
    for (size_t i = 0; i < s.morphs.size(); ++i) {
      CardMorph& m = s.morphs[i];
      if (static_cast<int>(i) < n && cards[i].windowRect.isUsable()) {
        const int d = std::abs(static_cast<int>(i) - f);
        m.flies = true;
        m.target = 0;
        m.delay = (half - std::min(d, n - d)) * 0.06 / half;
      } else {
        m.flies = false;
        m.alphaTarget = 0;
      }
    }
  } else {
    for (size_t i = 0; i < s.morphs.size(); ++i) {
      CardMorph& m = s.morphs[i];
      if (static_cast<int>(i) == *chosen) {
        if (cards[i].windowRect.isUsable()) {
          m.flies = true;
          m.target = 0;
          m.delay = 0;
        }
      } else {
        m.flies = false;
        m.alphaTarget = 0;
      }
    }
  }
  return nullptr;
}

SceneState::Completion SceneState::clear(Storage& s) {
  Completion pending = std::move(s.completion);
  s.completion = nullptr;
  s.cards = SceneCards::empty();
  s.morphs.clear();
  s.liveCount = 0;
  s.orbit.flipFence.reset();
  s.orbit.mode = s.focusMode;
  s.orbit.focus = 0;
  s.orbit.target = 0;
  s.orbit.velocity = 0;
  s.orbit.count = 0;
  s.isRunning = false;
  s.isDismissing = false;
  s.dismissElapsed = 0;
  s.reportedFocus = -1;
  s.focusIntent = FocusChangeSource::system;
  s.hoveredAction.reset();
  s.pointerHighlightID.reset();
  s.pointerPresence = 0;
  s.pointerPresenceVelocity = 0;
  s.reformActive = false;
  s.reformProgress = 1;
  s.reformVelocity = 0;
  s.reformFromCount = 0;
  return pending;
}

int SceneState::selectedIndex(const Storage& s) {
  const int n = std::min(s.cardCount(), s.liveCount);
  if (n < 1) return 0;
  int at = -1;
  if (s.pointerHighlightID && hasCardID(s, *s.pointerHighlightID, &at)) return at;
  return wrapIndex(nearest(s.orbit.target), n);
}

SceneProbe SceneState::probe(const Storage& s) {
  SceneProbe p;
  const int n = std::min(s.cardCount(), s.liveCount);
  if (n == s.cardCount()) {
    p.cards = s.cards;
  } else {
    p.cards = SceneCards::make(std::vector<CardSnapshot>(s.cards->begin(), s.cards->begin() + n));
  }
  p.focus = s.orbit.focus;
  p.settledFocus = s.orbit.target;
  p.layout = s.layout;
  p.samples.reserve(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) p.samples.push_back(sampleOf(s.morphs[static_cast<size_t>(i)]));
  p.reformFromCount = s.reformFromCount;
  p.reformBlend = static_cast<float>(s.reformProgress);
  p.clusters = s.clusters;
  p.clustersFrom = s.clustersFrom;
  p.stackTuning = s.stackTuning;
  p.tailTuning = s.tailTuning;
  p.flipReach = s.flipReach;
  p.flipFocus = s.flipFocus;
  p.focusedIndex = focusedIndex(s);
  int at = -1;
  p.selectedIndex = (s.pointerHighlightID && hasCardID(s, *s.pointerHighlightID, &at)) ? at : p.focusedIndex;
  p.pointerPresence = static_cast<float>(s.pointerPresence);
  p.showActionButtons = s.showActionButtons;
  p.chromeScale = s.chromeScale;
  p.showIcons = s.showIcons;
  p.iconAnchor = iconAnchor(s);
  p.showStatusBadges = s.showStatusBadges;
  return p;
}

void SceneState::setViewport(Storage& s, Float2 pixels, float contentsScale) {
  s.viewportPixels = pixels;
  s.contentsScale = contentsScale > 0 && std::isfinite(contentsScale) ? contentsScale : 1.0f;
}

}  // namespace quorvel
