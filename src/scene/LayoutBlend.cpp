#include "scene/LayoutBlend.h"

#include <algorithm>
#include <cmath>

#include "scene/RingLayout.h"

namespace quorvel {
namespace {

const LayoutBlend::Place& chosen(const LayoutEngine& engine, const LayoutBlend::Slots& slots) {
  return engine.allowsPiles() ? slots.piled : slots.flat;
}

LayoutEngine::Camera engineCamera(const LayoutEngine& engine, int cards, int places, float extra) {
  const bool piles = engine.allowsPiles();
  return engine.camera(piles ? places : cards, cards, piles ? extra : 0.0f);
}

float engineDepth(const LayoutEngine& engine, int cards, int places, float extra) {
  const auto camera = engineCamera(engine, cards, places, extra);
  const Float3 axis = camera.target - camera.eye;
  const float len = length(axis);
  if (!(len > 0.00001f)) return 1.0f;
  const bool piles = engine.allowsPiles();
  const CardPose first = engine.pose(0, piles ? places : cards, cards, 1.6f, 1.0f, 0.0);
  const float depth = dot(first.position - camera.eye, axis * (1.0f / len));
  return std::isfinite(depth) ? std::max(depth, 0.001f) : 1.0f;
}

}  // namespace

namespace {
// The arrangement of a new scene, shared so default blends (in every frame copy) never allocate.
const LayoutRef& defaultLayout() {
  static const auto* const ring = new LayoutRef(std::make_shared<RingLayout>(1.0f));  // never destroyed
  return *ring;
}
}  // namespace

LayoutBlend::LayoutBlend() : current_(defaultLayout()) {}

LayoutBlend::LayoutBlend(LayoutRef current, LayoutRef outgoing, float t)
    : current_(current ? std::move(current) : defaultLayout()),
      outgoing_(std::move(outgoing)),
      t_(t) {}

void LayoutBlend::setCurrent(LayoutRef layout) {
  if (layout) current_ = std::move(layout);
}

CardPose LayoutBlend::pose(int index, int count, int cards, float aspect, float heightFactor, double focus) const {
  const CardPose cur = current_->pose(index, count, cards, aspect, heightFactor, focus);
  if (!outgoing_) return cur;
  return CardPose::blend(outgoing_->pose(index, count, cards, aspect, heightFactor, focus), cur, t_);
}

LayoutEngine::Camera LayoutBlend::camera(int count, int cards, float extra) const {
  const Camera cur = current_->camera(count, cards, extra);
  if (!outgoing_) return cur;
  const Camera out = outgoing_->camera(count, cards, extra);
  return {mix(out.eye, cur.eye, t_), mix(out.target, cur.target, t_)};
}

float LayoutBlend::shade(int index, int count, int cards, double focus) const {
  const float cur = current_->shade(index, count, cards, focus);
  if (!outgoing_) return cur;
  return mix(outgoing_->shade(index, count, cards, focus), cur, t_);
}

float LayoutBlend::verticalShift() const {
  const float cur = current_->verticalShift();
  return outgoing_ ? mix(outgoing_->verticalShift(), cur, t_) : cur;
}

std::optional<int> LayoutBlend::neighbour(int index, int, uint8_t direction, int) const {
  return defaultNeighbour(index, direction);
}

std::optional<float> LayoutBlend::floorY() const {
  const auto cur = current_->floorY();
  if (!outgoing_) return cur;
  const auto out = outgoing_->floorY();
  if (!cur || !out) return std::nullopt;
  return mix(*out, *cur, t_);
}

std::optional<float> LayoutBlend::drawPlaces() const {
  return outgoing_ ? std::nullopt : current_->drawPlaces();
}

std::optional<float> LayoutBlend::chromePlaces() const {
  return outgoing_ ? std::nullopt : current_->chromePlaces();
}

CardPose LayoutBlend::poseFor(const Slots& slots, float aspect, float heightFactor) const {
  auto engineGives = [&](const LayoutEngine& engine) {
    const Place& place = chosen(engine, slots);
    return engine.pose(place.index, place.count, slots.flat.count, aspect, heightFactor, place.focus);
  };
  const CardPose cur = engineGives(*current_);
  if (!outgoing_) return cur;
  return CardPose::blend(engineGives(*outgoing_), cur, t_);
}

float LayoutBlend::shadeFor(const Slots& slots) const {
  auto engineGives = [&](const LayoutEngine& engine) {
    const Place& place = chosen(engine, slots);
    return engine.shade(place.index, place.count, slots.flat.count, place.focus);
  };
  const float cur = engineGives(*current_);
  return outgoing_ ? mix(engineGives(*outgoing_), cur, t_) : cur;
}

LayoutEngine::Camera LayoutBlend::cameraFor(int cards, int places, float extra) const {
  const Camera cur = engineCamera(*current_, cards, places, extra);
  if (!outgoing_) return cur;
  const Camera out = engineCamera(*outgoing_, cards, places, extra);
  return {mix(out.eye, cur.eye, t_), mix(out.target, cur.target, t_)};
}

float LayoutBlend::focusDepth(int cards, int places, float extra) const {
  const float cur = engineDepth(*current_, cards, places, extra);
  return outgoing_ ? mix(engineDepth(*outgoing_, cards, places, extra), cur, t_) : cur;
}

float LayoutBlend::pileWeight() const {
  const float cur = current_->allowsPiles() ? 1.0f : 0.0f;
  if (!outgoing_) return cur;
  const float out = outgoing_->allowsPiles() ? 1.0f : 0.0f;
  return mix(out, cur, std::clamp(t_, 0.0f, 1.0f));
}

}  // namespace quorvel
