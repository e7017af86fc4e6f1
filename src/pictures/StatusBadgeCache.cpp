#include "pictures/StatusBadgeCache.h"

#include <cassert>
#include <string>

#include "base/Executor.h"
#include "pictures/SymbolGlyphs.h"
#include "platform/Raster.h"

namespace quorvel {

namespace {

constexpr double S = StatusBadgeCache::kSide;

void drawPlate(RasterCanvas& canvas, double opacity) {
  const double inset = 0.06 * S;
  const double side = S - 2 * inset;
  canvas.fillRoundedRect({inset, inset, side, side}, 0.28 * side, RasterColor::black(opacity));
}

void drawSymbol(RasterCanvas& canvas, const char* name, double pointSize, SymbolWeight weight, Point center,
                RasterColor tint) {
  // A symbol we do not have is left out; the rest of the badge is still drawn.
  if (const SymbolGlyph* glyph = SymbolGlyphs::named(name)) canvas.drawSymbol(*glyph, pointSize, weight, center, tint);
}

}  // namespace

const char* StatusBadgeCache::symbolName(State state) {
  switch (state) {
    case State::onOtherSpace: return "display";
    case State::minimized: return "minus.circle.fill";
    case State::hiddenApp: return "eye.slash.fill";
    case State::windowlessApp: return "macwindow.badge.plus";
    case State::browserTab: return "rectangle.topthird.inset.filled";
  }
  return "display";
}

StatusBadgeCache::Choice StatusBadgeCache::choose(const CardStatus& status) {
  if (status.isTab) return {State::browserTab, std::nullopt};
  switch (status.state) {
    case WindowState::onCurrentSpace: return {};
    case WindowState::minimized: return {State::minimized, std::nullopt};
    case WindowState::hiddenApp: return {State::hiddenApp, std::nullopt};
    case WindowState::windowlessApp: return {State::windowlessApp, std::nullopt};
    case WindowState::browserTab: return {State::browserTab, std::nullopt};
    case WindowState::onOtherSpace:
      if (status.spaceNumber && *status.spaceNumber >= 1 && *status.spaceNumber <= 20) {
        return {std::nullopt, Inside::desktopNumber(*status.spaceNumber)};
      }
      if (status.isFullscreenSpace) return {std::nullopt, Inside::fullScreen()};
      return {State::onOtherSpace, std::nullopt};
  }
  return {};
}

std::shared_ptr<StatusBadgeCache> StatusBadgeCache::make(ChromeServices services) {
  return std::shared_ptr<StatusBadgeCache>(new StatusBadgeCache(std::move(services)));
}

StatusBadgeCache::StatusBadgeCache(ChromeServices services) : services_(std::move(services)) {}

double StatusBadgeCache::numberFontSize(int desktop) {
  return std::to_string(desktop).size() == 1 ? 0.3 * S : 0.26 * S;
}

void StatusBadgeCache::drawPlain(RasterCanvas& canvas, State state, double plateOpacity) {
  drawPlate(canvas, plateOpacity);
  drawSymbol(canvas, symbolName(state), S / 2, SymbolWeight::semibold, {S / 2, S / 2}, RasterColor::white());
}

void StatusBadgeCache::drawInside(RasterCanvas& canvas, Raster& raster, Inside inside, double plateOpacity) {
  drawPlate(canvas, plateOpacity);
  drawSymbol(canvas, "display", 0.62 * S, SymbolWeight::semibold, {S / 2, 0.52 * S}, RasterColor::white());
  canvas.fillRoundedRect({0.28 * S, 0.46 * S, 0.44 * S, 0.29 * S}, 0.03 * S, RasterColor::white());
  const Point center{S / 2, 0.6 * S};
  if (inside.kind == Inside::Kind::fullScreen) {
    drawSymbol(canvas, "arrow.up.left.and.arrow.down.right", 0.2 * S, SymbolWeight::bold, center,
               RasterColor::black());
    return;
  }
  const std::string digits = std::to_string(inside.desktop);
  TextBlock text;
  text.lines.push_back({digits, numberFontSize(inside.desktop), FontWeight::bold, RasterColor::black()});
  // Centred by the text's measured size.
  const Size measured = raster.measureText(text, S);
  canvas.drawText(text, {center.x - measured.width / 2, center.y - measured.height / 2, measured.width, measured.height});
}

ChromeTextureRef StatusBadgeCache::drawAndUpload(std::optional<State> plain, std::optional<Inside> inside) {
  const double opacity = lock_.withLock([&] { return plateOpacity_; });
  std::optional<RasterBitmap> bitmap = RasterBitmap::make(kSide, kSide);
  if (!bitmap) return nullptr;
  {
    std::unique_ptr<RasterCanvas> canvas = services_.raster.beginDrawing(*bitmap);
    if (!canvas) return nullptr;
    if (plain) drawPlain(*canvas, *plain, opacity);
    if (inside) drawInside(*canvas, services_.raster, *inside, opacity);
  }
  return services_.uploader.upload(*bitmap, kMipLabel);
}

void StatusBadgeCache::prewarm() {
  assert(services_.main.isCurrent() && "StatusBadgeCache::prewarm: main queue only");
  for (State state : kAllStates) {
    if (lock_.withLock([&] { return textures_.contains(state); })) continue;
    ChromeTextureRef texture = drawAndUpload(state, std::nullopt);
    if (!texture) continue;
    lock_.withLock([&] { textures_[state] = std::move(texture); });
    wake();
  }
}

bool StatusBadgeCache::setPlateOpacity(double opacity) {
  std::lock_guard guard(lock_);
  if (opacity == plateOpacity_) return false;
  plateOpacity_ = opacity;
  textures_.clear();
  insideTextures_.clear();
  requestedInside_.clear();
  return true;
}

ChromeTextureRef StatusBadgeCache::texture(const CardStatus& status) {
  const Choice choice = choose(status);
  if (choice.plain) {
    std::lock_guard guard(lock_);
    auto it = textures_.find(*choice.plain);
    return it != textures_.end() ? it->second : nullptr;
  }
  if (!choice.inside) return nullptr;
  ChromeTextureRef standIn;
  {
    std::lock_guard guard(lock_);
    if (auto it = insideTextures_.find(*choice.inside); it != insideTextures_.end()) return it->second;
    if (auto it = textures_.find(State::onOtherSpace); it != textures_.end()) standIn = it->second;
  }
  queueInside(*choice.inside);
  return standIn;
}

void StatusBadgeCache::queueInside(Inside inside) {
  if (!lock_.withLock([&] { return requestedInside_.insert(inside).second; })) return;
  services_.main.post([weak = weak_from_this(), inside] {
    auto self = weak.lock();
    if (!self) return;
    ChromeTextureRef texture = self->drawAndUpload(std::nullopt, inside);
    if (!texture) return;  // stays requested until the plate opacity changes
    self->lock_.withLock([&] { self->insideTextures_[inside] = std::move(texture); });
    self->wake();
  });
}

// After the store, with the lock released: the frame it wakes finds the badge.
void StatusBadgeCache::wake() {
  if (services_.wakeScene) services_.wakeScene();
}

size_t StatusBadgeCache::plainCount() {
  return lock_.withLock([&] { return textures_.size(); });
}

size_t StatusBadgeCache::insideCount() {
  return lock_.withLock([&] { return insideTextures_.size(); });
}

}  // namespace quorvel
