#pragma once

#include "scene/LayoutEngine.h"

namespace quorvel {

// The arrangement of a scene, possibly cross-fading from an outgoing one during a style change:
// itself a LayoutEngine whose every answer blends the outgoing answer toward the current one by t
// (0 = all outgoing, 1 = all current; t is not clamped except by `pileWeight`). Without an outgoing
// arrangement it answers exactly as `current`. A cheap value (two shared pointers): copying it into
// a frame never allocates. `current` is never null (a null given to the constructor reads as the
// tangent ring of spacing 1).
class LayoutBlend final : public LayoutEngine {
 public:
  // One of a card's two place descriptions: its own place among the cards (flat) or the place of its
  // pile among the piles (piled).
  struct Place {
    int index = 0;
    int count = 0;
    double focus = 0;
  };
  struct Slots {
    Place flat;
    Place piled;
  };

  LayoutBlend();
  explicit LayoutBlend(LayoutRef current, LayoutRef outgoing = nullptr, float t = 1.0f);

  const LayoutRef& current() const { return current_; }
  const LayoutRef& outgoing() const { return outgoing_; }
  float t() const { return t_; }
  void setCurrent(LayoutRef layout);
  void setOutgoing(LayoutRef layout) { outgoing_ = std::move(layout); }
  void setT(float t) { t_ = t; }

  // ---- LayoutEngine ----
  AppSettings::SwitcherStyle style() const override { return current_->style(); }
  CardPose pose(int index, int count, int cards, float aspect, float heightFactor, double focus) const override;
  Camera camera(int count, int cards, float extra) const override;
  float shade(int index, int count, int cards, double focus) const override;
  bool flipsCards() const override { return current_->flipsCards(); }
  float verticalShift() const override;
  // The default rule: the scene asks the current arrangement itself for arrow moves.
  std::optional<int> neighbour(int index, int count, uint8_t direction, int cards) const override;
  // While blending: none when either side has none, else the blend.
  std::optional<float> floorY() const override;
  // None while an outgoing arrangement exists (draw everything during the change).
  std::optional<float> drawPlaces() const override;
  std::optional<float> chromePlaces() const override;
  bool allowsPiles() const override { return current_->allowsPiles(); }

  // ---- Place-aware answers: each engine takes the piled description when it allows piles ----
  CardPose poseFor(const Slots& slots, float aspect, float heightFactor) const;
  float shadeFor(const Slots& slots) const;
  // Each engine: camera(places if it allows piles else cards, cards, extra if it allows piles else 0).
  Camera cameraFor(int cards, int places, float extra) const;
  // Distance from the eye to the plane of the focused card (at least 0.001; 1.0 for a degenerate
  // camera), blended by t.
  float focusDepth(int cards, int places, float extra) const;
  // 1 when current allows piles, else 0; blended by t clamped to [0, 1].
  float pileWeight() const;

 private:
  static float mix(float a, float b, float t) { return a + (b - a) * t; }
  static Float3 mix(Float3 a, Float3 b, float t) { return a + (b - a) * t; }

  LayoutRef current_;
  LayoutRef outgoing_;
  float t_ = 1.0f;
};

}  // namespace quorvel
