#include "scene/CameraRig.h"

#include <algorithm>
#include <cmath>

#include "scene/SceneFrame.h"
#include "scene/SceneProbe.h"

namespace quorvel {
namespace {

constexpr float kCot25 = 2.1445072f;

CameraRig::Configuration configurationOf(int cards, const ClusterAssignment& clusters, const StackTuning& tuning) {
  CameraRig::Configuration config;
  config.cards = cards;
  config.extra = clusters.bunches() ? 3 * tuning.peekWidth : 0.0f;
  config.places = (cards > 0 && clusters.covers(cards)) ? std::max(clusters.pileCount(), 1) : cards;
  return config;
}

Float3 finiteOr(Float3 v, Float3 fallback) {
  return (std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z)) ? v : fallback;
}

}  // namespace

void CameraRig::shiftCamera(Float3& eye, Float3& target, float shift) {
  const float drop = shift * length(eye - target);
  if (!std::isfinite(drop)) return;
  eye.y -= drop;
  target.y -= drop;
}

CameraRig CameraRig::make(const LayoutBlend& layout, Configuration current, std::optional<Configuration> previous,
                          float reformBlend, float viewWidth, float viewHeight) {
  LayoutEngine::Camera camera = layout.cameraFor(current.cards, current.places, current.extra);
  float depth = layout.focusDepth(current.cards, current.places, current.extra);
  if (reformBlend < 1 && previous && *previous != current) {
    const LayoutEngine::Camera before = layout.cameraFor(previous->cards, previous->places, previous->extra);
    const float beforeDepth = layout.focusDepth(previous->cards, previous->places, previous->extra);
    camera.eye = before.eye + (camera.eye - before.eye) * reformBlend;
    camera.target = before.target + (camera.target - before.target) * reformBlend;
    depth = beforeDepth + (depth - beforeDepth) * reformBlend;
  }
  Float3 eye = finiteOr(camera.eye, {0, 0, 4});
  Float3 target = finiteOr(camera.target, {0, 0, 0});
  shiftCamera(eye, target, layout.verticalShift());

  CameraRig rig;
  rig.eye = eye;
  rig.back = normalizeOrZero(eye - target);
  if (length(rig.back) < 0.5f) rig.back = {0, 0, 1};  // eye on target: look along −z
  rig.right = normalizeOrZero(cross({0, 1, 0}, rig.back));
  if (length(rig.right) < 0.5f) rig.right = {1, 0, 0};
  rig.up = cross(rig.back, rig.right);

  Float4x4 view;
  view.columns[0] = {rig.right.x, rig.up.x, rig.back.x, 0};
  view.columns[1] = {rig.right.y, rig.up.y, rig.back.y, 0};
  view.columns[2] = {rig.right.z, rig.up.z, rig.back.z, 0};
  view.columns[3] = {-dot(rig.right, eye), -dot(rig.up, eye), -dot(rig.back, eye), 1};
  rig.view = view;

  const bool hasArea = viewWidth > 0 && viewHeight > 0 && std::isfinite(viewWidth) && std::isfinite(viewHeight);
  const float aspect = hasArea ? viewWidth / viewHeight : 1.0f;
  Float4x4 projection;
  projection.columns[0] = {kCot25 / aspect, 0, 0, 0};
  projection.columns[1] = {0, kCot25, 0, 0};
  projection.columns[2] = {0, 0, -1.001001f, -1};
  projection.columns[3] = {0, 0, -0.1001001f, 0};
  rig.viewProjection = projection * view;

  rig.focusDepth = std::isfinite(depth) ? std::max(depth, 0.001f) : 1.0f;
  rig.halfHeight = rig.focusDepth * scene::kTan25;
  rig.halfWidth = rig.halfHeight * aspect;
  rig.yaw = std::atan2(rig.back.x, rig.back.z);
  rig.pitch = -std::asin(std::clamp(rig.back.y, -1.0f, 1.0f));
  return rig;
}

CameraRig CameraRig::fromProbe(const SceneProbe& probe, float viewWidth, float viewHeight) {
  const int n = static_cast<int>(probe.cards->size());
  const Configuration current = configurationOf(n, probe.clusters, probe.stackTuning);
  std::optional<Configuration> previous;
  if (probe.reformBlend < 1) {
    previous = configurationOf(std::max(probe.reformFromCount, 1), probe.clustersFrom, probe.stackTuning);
  }
  return make(probe.layout, current, previous, probe.reformBlend, viewWidth, viewHeight);
}

CameraRig CameraRig::fromFrame(const SceneFrame& frame, float viewWidth, float viewHeight) {
  const int cards = frame.liveCount > 0 ? frame.liveCount : std::max(frame.reformFromCount, 1);
  Configuration current;
  current.cards = cards;
  current.places = (frame.liveCount >= 1 && frame.clusters.covers(frame.liveCount))
                       ? std::max(frame.clusters.pileCount(), 1)
                       : cards;
  current.extra = frame.clusters.bunches() ? 3 * frame.stackTuning.peekWidth : 0.0f;
  std::optional<Configuration> previous;
  if (frame.reformBlend < 1) {
    previous = configurationOf(std::max(frame.reformFromCount, 1), frame.clustersFrom, frame.stackTuning);
  }
  return make(frame.layout, current, previous, frame.reformBlend, viewWidth, viewHeight);
}

CardPose CameraRig::poseForScreenRect(const ViewportRect& rect) const {
  const Float2 centre = rect.origin + rect.size * 0.5f;
  CardPose pose;
  pose.position = eye - back * focusDepth + right * ((2 * centre.x - 1) * halfWidth) +
                  up * ((1 - 2 * centre.y) * halfHeight);
  pose.size = {2 * rect.size.x * halfWidth, 2 * rect.size.y * halfHeight};
  pose.yaw = yaw;
  pose.pitch = pitch;
  return pose;
}

float CameraRig::viewDepth(Float3 position) const {
  return (view * Float4{position.x, position.y, position.z, 1}).z;
}

}  // namespace quorvel
