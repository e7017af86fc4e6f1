#include "pictures/ActionBadgeCache.h"

#include <cassert>

#include "base/Executor.h"

namespace quorvel {

const RasterColor& ActionBadgeCache::closeDisc() {
  static const RasterColor color{1.0, 0.37, 0.34, 0.95};
  return color;
}

const RasterColor& ActionBadgeCache::minimizeDisc() {
  static const RasterColor color{1.0, 0.74, 0.18, 0.95};
  return color;
}

const RasterColor& ActionBadgeCache::discOutline() {
  static const RasterColor color = RasterColor::black(0.35);
  return color;
}

const RasterColor& ActionBadgeCache::glyphStroke() {
  static const RasterColor color = RasterColor::grey(0.12, 0.85);
  return color;
}

RasterColor ActionBadgeCache::hoveredColor(RasterColor c) {
  auto lift = [](double v) { return v + (1 - v) * 0.15; };
  return {lift(c.red), lift(c.green), lift(c.blue), c.alpha};
}

ActionBadgeCache::ActionBadgeCache(ChromeServices services) : services_(std::move(services)) {}

void ActionBadgeCache::draw(RasterCanvas& canvas, Key key) {
  constexpr double S = kSide;
  const double inset = 0.06 * S;
  const double diameter = S - 2 * inset;
  const Rect disc{inset, inset, diameter, diameter};
  RasterColor fill = key.action == CardAction::close ? closeDisc() : minimizeDisc();
  if (key.hovered) fill = hoveredColor(fill);
  canvas.fillEllipse(disc, fill);
  canvas.strokeEllipse(disc, 0.05 * S, discOutline());
  const double c = S / 2;
  const double d = 0.24 * diameter;
  VectorPath glyph;
  if (key.action == CardAction::close) {
    glyph.moveTo({c - d, c - d}).lineTo({c + d, c + d});
    glyph.moveTo({c - d, c + d}).lineTo({c + d, c - d});
  } else {
    glyph.moveTo({c - d, c}).lineTo({c + d, c});
  }
  canvas.strokePath(glyph, 0.085 * S, LineCap::round, glyphStroke());
}

void ActionBadgeCache::prewarm() {
  assert(services_.main.isCurrent() && "ActionBadgeCache::prewarm: main queue only");
  for (CardAction action : kAllCardActions) {
    for (bool hovered : {false, true}) {
      const Key key{action, hovered};
      if (lock_.withLock([&] { return textures_.contains(key); })) continue;
      std::optional<RasterBitmap> bitmap = RasterBitmap::make(kSide, kSide);
      if (!bitmap) continue;
      {
        std::unique_ptr<RasterCanvas> canvas = services_.raster.beginDrawing(*bitmap);
        if (!canvas) continue;
        draw(*canvas, key);
      }
      ChromeTextureRef texture = services_.uploader.upload(*bitmap, kMipLabel);
      if (!texture) continue;
      lock_.withLock([&] { textures_[key] = std::move(texture); });
      // Woken after the store, so that the frame it wakes finds the button.
      if (services_.wakeScene) services_.wakeScene();
    }
  }
}

ChromeTextureRef ActionBadgeCache::texture(CardAction action, bool hovered) {
  std::lock_guard guard(lock_);
  auto it = textures_.find(Key{action, hovered});
  return it != textures_.end() ? it->second : nullptr;
}

}  // namespace quorvel
