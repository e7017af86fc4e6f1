#include "scene/CardPosePass.h"

#include <algorithm>
#include <cmath>

namespace quorvel {
namespace {

float lookValue(const std::optional<PileLook>& look, float PileLook::*field, float fallback) {
  return look ? (*look).*field : fallback;
}

// The target look's value, blended from the source look's by r while r < 1.
float blendedLook(const std::optional<PileLook>& to, const std::optional<PileLook>& from, float PileLook::*field,
                  float fallback, float r) {
  const float target = lookValue(to, field, fallback);
  if (!(r < 1)) return target;
  const float source = lookValue(from, field, fallback);
  return source + (target - source) * r;
}

float finiteOr(float v, float fallback) { return std::isfinite(v) ? v : fallback; }

CardPose sanitized(CardPose pose) {
  pose.position = {finiteOr(pose.position.x, 0), finiteOr(pose.position.y, 0), finiteOr(pose.position.z, 0)};
  pose.yaw = finiteOr(pose.yaw, 0);
  pose.pitch = finiteOr(pose.pitch, 0);
  pose.size = {finiteOr(pose.size.x, 1.6f), finiteOr(pose.size.y, 1.0f)};
  return pose;
}

}  // namespace

LayoutBlend::Slots CardPosePass::slotsOf(const CardSlot& slot, double focus, const std::optional<PileLook>& look) {
  LayoutBlend::Slots slots;
  slots.flat = {slot.index, slot.count, focus + slot.focusShift};
  slots.piled = look ? LayoutBlend::Place{look->place, look->placeCount, look->placeFocus} : slots.flat;
  return slots;
}

std::optional<PileLook> CardPosePass::slotLook(const CardSlot& slot, const ClusterAssignment& clusters, double focus,
                                               std::optional<double> flipFocus, float pileWeight,
                                               const StackTuning& tuning, double flipReach) {
  return PileLook::lookOf(slot.index, slot.count, clusters, focus + slot.focusShift, flipFocus, pileWeight, tuning,
                          flipReach);
}

float CardPosePass::focusWeight(const LayoutBlend::Place& place, const std::optional<PileLook>& look) {
  if (place.count <= 0) return 0;
  // The distance the short way round, so a card across the seam of a wrapping list (the last card
  // seen from a focus before the first) is weighted as the neighbour it is.
  const double x = place.index - place.focus;
  const double d = x - std::round(x / place.count) * place.count;
  const double s = std::isfinite(d) ? std::max(0.0, 1 - std::fabs(d)) : 0.0;
  float w = static_cast<float>(s * s * (3 - 2 * s));
  if (look && look->frontVisibility < 1) w *= look->frontVisibility;
  return w;
}

CardPosePass::Result CardPosePass::cardPose(const CardSnapshot& card, const MorphSample& sample,
                                            const LayoutBlend& layout, const CameraRig& rig,
                                            const std::optional<PileLook>& toLook,
                                            const std::optional<PileLook>& fromLook, double focus, float reformBlend,
                                            float pointerPresence) {
  const float r = std::isfinite(reformBlend) ? reformBlend : 1.0f;
  // 1–3: the slot pose, re-formed from the source slot.
  const LayoutBlend::Slots target = slotsOf(sample.to, focus, toLook);
  CardPose pose = layout.poseFor(target, card.aspect, card.heightFactor);
  const auto& targetPlace = layout.current()->allowsPiles() ? target.piled : target.flat;
  float weight = focusWeight(targetPlace, toLook);
  if (r < 1) {
    const LayoutBlend::Slots source = slotsOf(sample.from, focus, fromLook);
    pose = CardPose::blend(layout.poseFor(source, card.aspect, card.heightFactor), pose, r);
    const auto& sourcePlace = layout.current()->allowsPiles() ? source.piled : source.flat;
    const float sourceWeight = focusWeight(sourcePlace, fromLook);
    weight = sourceWeight + (weight - sourceWeight) * r;
  }

  // 4: the pile fan.
  const float push = blendedLook(toLook, fromLook, &PileLook::depth, 0, r);
  const float tilt = blendedLook(toLook, fromLook, &PileLook::tilt, 0, r);
  const float sideways = blendedLook(toLook, fromLook, &PileLook::lateral, 0, r);
  const float drop = blendedLook(toLook, fromLook, &PileLook::step, 0, r);
  const float scale = blendedLook(toLook, fromLook, &PileLook::scale, 1, r);
  if (push > 0) pose.position -= rig.back * push;
  pose.yaw += tilt;
  pose.position += Float3{std::cos(pose.yaw), 0, -std::sin(pose.yaw)} * sideways;
  if (drop != 0) {
    const Float3 cardUp{std::sin(pose.pitch) * std::sin(pose.yaw), std::cos(pose.pitch),
                        std::sin(pose.pitch) * std::cos(pose.yaw)};
    pose.position -= cardUp * drop;
  }
  if (toLook || fromLook) pose.size = pose.size * std::max(scale, 0.0f);

  // 5: the highlight.
  float highlight = 0;
  if (!sample.isGhost) {
    const float p = std::isfinite(pointerPresence) ? pointerPresence : 0.0f;
    highlight = std::clamp((1 - p) * weight + finiteOr(sample.pointerHighlight, 0), 0.0f, 1.0f);
  }
  pose.size = pose.size * (1 + 0.025f * highlight);

  // 6: the flight from (or to) the window's place on screen.
  if (card.windowRect.isUsable()) {
    const CardPose window = rig.poseForScreenRect(card.windowRect);
    pose = CardPose::blend(window, pose, finiteOr(sample.progress, 1));
  }
  return {sanitized(pose), highlight, finiteOr(push, 0)};
}

float CardPosePass::cardFacing(const MorphSample& sample, const LayoutBlend& layout,
                               const std::optional<PileLook>& toLook, const std::optional<PileLook>& fromLook,
                               double focus, float reformBlend) {
  const float r = std::isfinite(reformBlend) ? reformBlend : 1.0f;
  float shade = layout.shadeFor(slotsOf(sample.to, focus, toLook));
  float alpha = lookValue(toLook, &PileLook::rankFade, 1);
  if (r < 1) {
    const float sourceShade = layout.shadeFor(slotsOf(sample.from, focus, fromLook));
    const float sourceAlpha = lookValue(fromLook, &PileLook::rankFade, 1);
    shade = sourceShade + (shade - sourceShade) * r;
    alpha = sourceAlpha + (alpha - sourceAlpha) * r;
  }
  const float facing = shade * alpha;
  return std::isfinite(facing) ? std::clamp(facing, 0.0f, 1.0f) : 0.0f;
}

}  // namespace quorvel
