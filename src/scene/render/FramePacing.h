#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "base/Clock.h"
#include "base/Logger.h"
#include "base/Tracer.h"
#include "scene/FrameCadence.h"
#include "scene/HitchThrottle.h"
#include "scene/LayoutBlend.h"
#include "scene/RestGate.h"

namespace quorvel {

// How regularly a card renderer's frames arrive, and what it tells about them: frame-gap lines on
// the "Frames" log (at most one a second, the rest folded into the next line's count) with a
// "frameGap" trace event, a debug line on "SceneShape" whenever the drawn scene's shape
// changes, a debug line on "Frames" whenever the camera comes to rest, and the rest gate that lets a resting scene skip its frames. Re-seeded at every start of
// the display link, so the first frame after a start is never counted. Render thread only (the
// re-seed runs on the render thread's start path before the link is unpaused), except
// sceneAtRest(), which any thread may read.
class FramePacing {
 public:
  // The frame statistics since the last re-seed.
  struct Record {
    bool seeded = false;  // false right after a re-seed; the first frame only sets it
    double expected = 0;  // seconds per frame of the display, 0 when the rate is unknown
    double measured = 0;  // the smallest positive gap seen
    int frames = 0;
    double elapsed = 0;
    int late = 0;     // on time by the cadence but longer than 1.25 expected frames
    int dropped = 0;  // one frame missed
    int bad = 0;      // more than one missed
    double worst = 0;
  };
  // The last logged shape of the drawn scene.
  struct ShapeMark {
    std::string style;
    int cards = -1;
    int places = -1;
    bool mapped = false;
    bool operator==(const ShapeMark&) const = default;
  };

  explicit FramePacing(const Clock& clock);

  // A fresh record, cadence (prior 1 / rate) and rest gate (armed unless `restGateOff`, at
  // `wakeRevision`); `isotropic` picks the sampler the frames bind.
  void reseed(double refreshRate, bool restGateOff, bool isotropic, uint64_t wakeRevision);
  // After every committed drawing frame.
  void noteFrameGap(int liveCount, bool atRest, bool dismissing, double dt, bool livePreview);
  // Every frame after the draw order is settled; `span` the height the drawn cards span.
  void logShape(const LayoutBlend& layout, int cards, int places, bool mapped, int drawn, float span);
  // The tick's question: skip this frame (the scene rests and nothing changed since the last drawn
  // one)?
  bool shouldHold(uint64_t wakeRevision) { return restGate_.shouldHold(sceneAtRest(), wakeRevision); }
  // A frame let through that was not drawn: the next tick draws.
  void noteFrameUndrawn() { restGate_.undrawn(); }

  // After every frame computed: whether the scene rests, where the camera stands and how many live
  // cards there are. The camera's coming to rest is a debug line on "Frames" naming the card in
  // front.
  void setSceneAtRest(bool atRest, double focus, int liveCount);
  // Whether the last frame computed found the scene at rest.
  bool sceneAtRest() const { return sceneAtRest_.load(std::memory_order_relaxed); }
  bool sceneHasRested() const { return sceneHasRested_; }
  bool isotropic() const { return isotropic_; }
  const Record& record() const { return record_; }
  const FrameCadence& cadence() const { return cadence_; }
  const RestGate& restGate() const { return restGate_; }
  const HitchThrottle& hitchThrottle() const { return hitchThrottle_; }
  const ShapeMark& lastShape() const { return lastShape_; }

  // The type name of an arrangement, as the shape line gives it ("RowLayout").
  static const char* styleName(AppSettings::SwitcherStyle style);

 private:
  const Clock& clock_;
  Logger frames_{"Frames"};
  Logger shapes_{"SceneShape"};
  Tracer tracer_{"Frames"};
  Record record_;
  FrameCadence cadence_;
  HitchThrottle hitchThrottle_;
  RestGate restGate_;
  bool sceneHasRested_ = false;
  std::atomic<bool> sceneAtRest_{false};
  bool isotropic_ = false;
  ShapeMark lastShape_;
};

}  // namespace quorvel
