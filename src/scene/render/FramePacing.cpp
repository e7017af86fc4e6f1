#include "scene/render/FramePacing.h"

#include <cmath>
#include <cstdio>

namespace quorvel {

FramePacing::FramePacing(const Clock& clock) : clock_(clock), cadence_(0) {}

void FramePacing::reseed(double refreshRate, bool restGateOff, bool isotropic, uint64_t wakeRevision) {
  record_ = Record{};
  record_.expected = refreshRate > 0 ? 1.0 / refreshRate : 0;
  cadence_ = FrameCadence(record_.expected);
  sceneHasRested_ = false;
  restGate_ = RestGate{};
  restGate_.seen = wakeRevision;
  restGate_.isEnabled = !restGateOff;
  sceneAtRest_ = false;
  isotropic_ = isotropic;
}

void FramePacing::noteFrameGap(int liveCount, bool atRest, bool dismissing, double dt, bool livePreview) {
  if (atRest && !dismissing) sceneHasRested_ = true;
  if (!record_.seeded) {
    record_.seeded = true;
    return;
  }
  if (!(dt > 0)) return;
  if (record_.measured == 0 || dt < record_.measured) record_.measured = dt;
  ++record_.frames;
  record_.elapsed += dt;
  record_.worst = std::max(record_.worst, dt);

  const FrameCadence::Classification verdict = cadence_.record(dt);
  const double reference = record_.expected > 0 ? record_.expected : record_.measured;
  switch (verdict.kind) {
    case FrameCadence::Kind::normal:
      if (reference > 0 && dt / reference > 1.25) ++record_.late;
      break;
    case FrameCadence::Kind::hitch:
      ++record_.dropped;
      break;
    case FrameCadence::Kind::severe:
      ++record_.bad;
      break;
  }
  if (!verdict.isLong) return;

  tracer_.emitEvent("frameGap", tracer_.makeTraceId());
  const char* phase = dismissing ? "dismiss" : !sceneHasRested_ ? "reveal" : atRest ? "steady" : "settle";
  const std::string line = Logger::format(
      "frame gap %.1f ms against a %.1f ms cadence at %{public}s, live preview %{public}s, %ld cards",
      {LogArgument::from(dt * 1000), LogArgument::from(cadence_.cadence() * 1000), LogArgument::from(phase),
       LogArgument::from(livePreview ? "on" : "off"), LogArgument::from(liveCount)},
      false);
  if (auto admitted = hitchThrottle_.admit(clock_.mediaTime(), line)) frames_.notice("%{public}s", *admitted);
}

void FramePacing::setSceneAtRest(bool atRest, double focus, int liveCount) {
  const bool wasAtRest = sceneAtRest_.exchange(atRest, std::memory_order_relaxed);
  if (!atRest || wasAtRest || liveCount < 1 || !std::isfinite(focus)) return;
  const long front = ((std::lround(focus) % liveCount) + liveCount) % liveCount;
  frames_.debug("camera at rest on card %{public}ld of %{public}ld", front, static_cast<long>(liveCount));
}

void FramePacing::logShape(const LayoutBlend& layout, int cards, int places, bool mapped, int drawn, float span) {
  const AppSettings::SwitcherStyle style = layout.current()->style();
  ShapeMark mark{styleName(style), cards, places, mapped};
  if (mark == lastShape_) return;
  lastShape_ = mark;
  std::string story;
  if (style == AppSettings::SwitcherStyle::cylinder) {
    story = std::to_string(places > 1 && cards > 6 ? 2 : 1) + " stories, split above 6, ";
  }
  shapes_.debug("shape: %{public}s, %{public}ld cards in %{public}ld places%{public}s, %{public}s%{public}ld drawn "
                "spanning %{public}.2f high",
                mark.style, static_cast<long>(cards), static_cast<long>(places), mapped ? "" : " (unmapped)", story,
                static_cast<long>(drawn), static_cast<double>(span));
}

const char* FramePacing::styleName(AppSettings::SwitcherStyle style) {
  switch (style) {
    case AppSettings::SwitcherStyle::coverArc: return "CoverArcLayout";
    case AppSettings::SwitcherStyle::tangentRing: return "RingLayout";
    case AppSettings::SwitcherStyle::flatRing: return "FlatRingLayout";
    case AppSettings::SwitcherStyle::flip3d: return "Flip3DLayout";
    case AppSettings::SwitcherStyle::cylinder: return "CylinderLayout";
    case AppSettings::SwitcherStyle::expo: return "ExpoLayout";
    case AppSettings::SwitcherStyle::row: return "RowLayout";
  }
  return "LayoutEngine";
}

}  // namespace quorvel
