#include "scene/CardPicking.h"

#include <algorithm>
#include <cmath>

#include "scene/CameraRig.h"
#include "scene/CardPosePass.h"

namespace quorvel {
namespace {

float cross2(Float2 a, Float2 b) { return a.x * b.y - a.y * b.x; }

// Inside or on the edge of a convex quad given in order: every edge's cross product has one sign
// (zeros allowed).
bool insideQuad(const Float2 (&corners)[4], Float2 p) {
  bool anyPositive = false, anyNegative = false;
  for (int i = 0; i < 4; ++i) {
    const Float2 a = corners[i], b = corners[(i + 1) % 4];
    const float c = cross2(b - a, p - a);
    if (c > 0) anyPositive = true;
    if (c < 0) anyNegative = true;
  }
  return !(anyPositive && anyNegative);
}

}  // namespace

std::optional<int> CardPicking::cardAtPoint(const SceneProbe& probe, Float2 point, float width, float height,
                                            double focus, float reformBlend) {
  const auto& cards = *probe.cards;
  const int n = static_cast<int>(std::min(cards.size(), probe.samples.size()));
  if (!(width > 0) || !(height > 0) || n == 0) return std::nullopt;
  const CameraRig rig = CameraRig::fromProbe(probe, width, height);
  const float pileWeight = probe.layout.pileWeight();
  const float r = std::isfinite(reformBlend) ? reformBlend : 1.0f;

  std::optional<float> reach;
  if (probe.layout.drawPlaces()) reach = probe.tailTuning.drawPlaces ? *probe.tailTuning.drawPlaces : *probe.layout.drawPlaces();
  const float fade = std::max(probe.tailTuning.fadePlaces, 0.001f);

  std::optional<int> best;
  float bestDepth = -INFINITY;
  for (int i = 0; i < n; ++i) {
    const CardSnapshot& card = cards[static_cast<size_t>(i)];
    const MorphSample& sample = probe.samples[static_cast<size_t>(i)];
    const auto toLook = CardPosePass::slotLook(sample.to, probe.clusters, focus, probe.flipFocus, pileWeight,
                                               probe.stackTuning, probe.flipReach);
    std::optional<PileLook> fromLook;
    if (r < 1) {
      fromLook = CardPosePass::slotLook(sample.from, probe.clustersFrom, focus, probe.flipFocus, pileWeight,
                                        probe.stackTuning, probe.flipReach);
    }

    double distance;
    if (toLook && probe.clusters.bunches()) {
      distance = ClusterAssignment::circularDistance(toLook->place, toLook->placeFocus, toLook->placeCount);
    } else {
      distance = ClusterAssignment::circularDistance(i, focus, n);
    }
    float tail = 1;
    if (reach && std::isfinite(distance)) {
      tail = scene::smoothstep((*reach + fade - static_cast<float>(distance)) / fade);
    }
    float rankFade = toLook ? toLook->rankFade : 1.0f;
    if (r < 1) {
      const float before = fromLook ? fromLook->rankFade : 1.0f;
      rankFade = before + (rankFade - before) * r;
    }
    if (!(tail * rankFade > 0.004f)) continue;

    const auto placed = CardPosePass::cardPose(card, sample, probe.layout, rig, toLook, fromLook, focus, r,
                                               probe.pointerPresence);
    const Float4x4 mvp = rig.viewProjection * placed.pose.modelMatrix();
    Float2 corners[4];
    const Float2 unit[4] = {{-0.5f, -0.5f}, {0.5f, -0.5f}, {0.5f, 0.5f}, {-0.5f, 0.5f}};
    bool behind = false;
    for (int k = 0; k < 4; ++k) {
      const Float4 clip = mvp * Float4{unit[k].x, unit[k].y, 0, 1};
      if (!(clip.w > 0.00001f)) {
        behind = true;
        break;
      }
      corners[k] = {(clip.x / clip.w * 0.5f + 0.5f) * width, (clip.y / clip.w * 0.5f + 0.5f) * height};
    }
    if (behind || !insideQuad(corners, point)) continue;
    const float depth = rig.viewDepth(placed.pose.position);
    if (!best || depth > bestDepth) {
      best = i;
      bestDepth = depth;
    }
  }
  return best;
}

}  // namespace quorvel
