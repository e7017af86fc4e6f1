#include "scene/render/CardRenderer.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <utility>
#include <limits>

#include "scene/render/CardPipeline.h"
#include "scene/render/DrawRecording.h"
#include "scene/render/CardUniforms.h"

namespace quorvel {

CardRenderer::CardRenderer(std::shared_ptr<GpuContext> context, std::shared_ptr<SceneState> state,
                           std::shared_ptr<FocusSink> focusSink, Providers providers, Services services)
    : context_(std::move(context)),
      state_(std::move(state)),
      focusSink_(std::move(focusSink)),
      providers_(std::move(providers)),
      mainQueue_(services.mainQueue),
      clock_(services.clock),
      wake_(services.wake),
      pacing_(services.clock) {}

CardRenderer::~CardRenderer() = default;

std::unique_ptr<CardRenderer> CardRenderer::make(std::shared_ptr<GpuContext> context,
                                                 std::shared_ptr<SceneState> state,
                                                 std::shared_ptr<FocusSink> focusSink, Providers providers,
                                                 Services services) {
  if (!context || !state) return nullptr;
  std::unique_ptr<CardRenderer> renderer(
      new CardRenderer(std::move(context), std::move(state), std::move(focusSink), std::move(providers), services));
  if (!renderer->build()) return nullptr;
  return renderer;
}

bool CardRenderer::build() {
  device_ = context_->device;
  commandQueue_ = context_->commandQueue;
  std::optional<CardPipeline> cards = CardPipeline::make(*device_);
  if (!cards) return false;
  pipeline_ = cards->blended;
  interiorPipeline_ = cards->interior;
  plainPipeline_ = cards->plain;
  quadBuffer_ = cards->quad;
  fallbackTexture_ = cards->fallbackTexture;
  sampler_ = device_->makeSampler({8, "Quorvel card sampler"});
  isotropicSampler_ = device_->makeSampler({1, "Quorvel card sampler (isotropic)"});
  levelZeroSampler_ = device_->makeSampler({1, "Quorvel card sampler (level 0)", true});
  if (!sampler_ || !isotropicSampler_ || !levelZeroSampler_) return false;
  ensureUniformCapacity(kInitialCapacity);
  return true;
}

bool CardRenderer::ensureUniformCapacity(size_t count) {
  if (count > std::numeric_limits<size_t>::max() / CardUniforms::kStride) std::abort();
  const size_t length = count * CardUniforms::kStride;
  std::vector<std::shared_ptr<GpuBuffer>> made;
  for (int slot = 0; slot < kUniformBuffers; ++slot) {
    auto buffer = device_->makeBuffer(length, "Quorvel card uniforms " + std::to_string(slot));
    if (!buffer) return false;
    made.push_back(std::move(buffer));
  }
  uniformBuffers_ = std::move(made);
  uniformCapacity_ = count;
  return true;
}

void CardRenderer::tick(const DisplayLinkUpdate& update, GpuSurface& surface) {
  if (mainQueue_.isCurrent()) return;  // the renderer draws on the render thread only
  if (auto rate = restartLock_.withLock([&] { return std::exchange(pendingRestart_, std::nullopt); })) {
    clearLastTimestamp();
    reseedPacing(*rate, false, false);
  }
  const double t = update.targetTimestamp;
  const double dt = lastTimestamp_ ? t - *lastTimestamp_ : 1.0 / 120;
  lastTimestamp_ = t;
  if (pacing_.shouldHold(wake_.revision())) return;
  FrameScope scope(*this);
  const SceneFrame frame = advance(dt);
  const uint32_t width = surface.drawableWidth(), height = surface.drawableHeight();
  if (frame.isRunning && width >= 1 && height >= 1) {
    record(frame, width, height);
    // Nothing in the window changes (a wake that changed no draw, and no frame recorded since the
    // last one shown was left undrawn): no drawable, nothing shown anew.
    if (redrawsOnlyChanges_ && sinceShown_.isEmpty()) {
      releaseOverlayChrome();
      return;
    }
  }
  auto drawable = surface.nextDrawable();
  if (!drawable) {
    // Every image is still on its way to the window (a busy machine): this frame is drawn at a
    // later tick, or a scene that came to rest with it would leave an older frame in the window.
    pacing_.noteFrameUndrawn();
    releaseOverlayChrome();
    return;
  }
  render(drawable, frame, dt);
}

void CardRenderer::frame(const std::shared_ptr<GpuDrawable>& drawable, double dt) {
  FrameScope scope(*this);
  const SceneFrame f = advance(dt);
  const auto& target = drawable ? drawable->texture() : nullptr;
  if (f.isRunning && target && target->width() >= 1 && target->height() >= 1)
    record(f, target->width(), target->height());
  render(drawable, f, dt);
}

CardRenderer::FrameScope::FrameScope(CardRenderer& renderer) : renderer_(renderer), held_(renderer.framesMutex_) {}

CardRenderer::FrameScope::~FrameScope() {
  if (renderer_.forgetRequested_.exchange(false)) renderer_.forgetRecordings();
}

void CardRenderer::forgetFrames() {
  // Never waits for a frame being drawn (it may wait for the GPU): that frame lets go once done.
  std::unique_lock frames(framesMutex_, std::try_to_lock);
  if (!frames.owns_lock()) {
    forgetRequested_ = true;
    return;
  }
  forgetRecordings();
}

SceneFrame CardRenderer::advance(double dt) {
  SceneFrame frame = state_->withLock([&](SceneState::Storage& s) { return SceneState::advanceFrame(s, dt, morphs_); });
  pacing_.setSceneAtRest(frame.isAtRest, frame.focus, frame.liveCount);
  if (frame.completion) mainQueue_.post(std::move(frame.completion));
  if (frame.focusChange) {
    const SceneFrame::FocusChange change = *frame.focusChange;
    mainQueue_.post([sink = focusSink_, change] {
      if (sink && sink->handler) sink->handler(change.index, change.source);
    });
  }
  return frame;
}

void CardRenderer::record(const SceneFrame& frame, uint32_t width, uint32_t height) {
  DrawRecording& now = recordings_[1 - shown_];
  const Float4 backdrop = this->backdrop();
  now.reset(width, height, GpuColor{backdrop.x, backdrop.y, backdrop.z, backdrop.w}, CardUniforms::kStride);
  releaseOverlayChrome();  // a frame recorded before and not drawn lets go of its chrome
  drawnBackdrop_.reset();
  draw(now, frame, morphs_.values, static_cast<float>(width), static_cast<float>(height));
  recordedBackdrop_[1 - shown_] = drawnBackdrop_;
  if (recordedBackdrop_[1 - shown_]) {
    recordedBackdrop_[1 - shown_]->clear = backdrop;
    recordedBackdrop_[1 - shown_]->width = width;
    recordedBackdrop_[1 - shown_]->height = height;
  }
  const DrawRecording& before = recordings_[shown_];
  const FrameDamage damage = before.width() > 0 ? DrawRecording::damage(before, now) : FrameDamage::all();
  shown_ = 1 - shown_;
  recorded_ = {width, height};
  // Every kept drawable misses this change until it is drawn again; so does the window.
  for (KeptDrawable& kept : keptDrawables_) kept.damage.add(damage);
  sinceShown_.add(damage);
}

void CardRenderer::forgetRecordings() {
  recordings_[0].clear();
  recordings_[1].clear();
  recordedBackdrop_[0].reset();
  recordedBackdrop_[1].reset();
  lastBackdrop_.reset();
  stillKey_.reset();
  stillTexture_.reset();
  keptDrawables_.clear();
  sinceShown_ = FrameDamage::all();
  recorded_ = {0, 0};
}

void CardRenderer::render(const std::shared_ptr<GpuDrawable>& drawable, const SceneFrame& frame, double dt) {
  if (!frame.isRunning) {
    forgetRecordings();  // the scene stopped: hold no texture of it
    releaseOverlayChrome();
    recycle(drawable);
    return;
  }
  const auto& target = drawable->texture();
  if (!target || target->width() < 1 || target->height() < 1) {
    releaseOverlayChrome();
    recycle(drawable);
    return;
  }
  if (recorded_ != std::pair{target->width(), target->height()}) record(frame, target->width(), target->height());
  // The pixels to draw: those that changed since this drawable was last drawn, when it keeps them.
  FrameDamage area = FrameDamage::all();
  auto kept = std::find_if(keptDrawables_.begin(), keptDrawables_.end(),
                           [&](const KeptDrawable& k) { return k.texture == target.get(); });
  if (kept != keptDrawables_.end()) {
    if (redrawsOnlyChanges_ && drawable->keepsContents()) area = kept->damage;
    kept->damage = FrameDamage{};
  } else if (drawable->keepsContents()) {
    if (keptDrawables_.size() >= kMaxKeptDrawables) keptDrawables_.erase(keptDrawables_.begin());
    keptDrawables_.push_back({target.get(), FrameDamage{}});
  }
  // Most of the target, or nothing at all (a frame drawn on request): the whole of it.
  const uint64_t whole = uint64_t{target->width()} * target->height();
  if (area.isEmpty() || (area.rect && uint64_t{area.rect->width} * area.rect->height * 2 > whole)) area = FrameDamage::all();
  inFlight_->acquire();
  auto commandBuffer = commandQueue_->makeCommandBuffer();
  if (!commandBuffer) {
    inFlight_->release();
    pacing_.noteFrameUndrawn();
    releaseOverlayChrome();
    recycle(drawable);
    if (kept != keptDrawables_.end()) kept->damage = FrameDamage::all();
    return;
  }
  commandBuffer->setLabel("Quorvel ring");
  commandBuffer->addCompletedHandler([inFlight = inFlight_] { inFlight->release(); });
  const DrawRecording& recording = recordings_[shown_];
  const bool fromStill = copyBackdropStill(*commandBuffer, recording, drawable, area.rect);
  GpuRenderPass pass;
  pass.colorTexture = target;
  pass.clear = !fromStill;
  pass.area = area.rect;
  const Float4 backdrop = this->backdrop();
  pass.clearColor = {backdrop.x, backdrop.y, backdrop.z, backdrop.w};
  if (auto encoder = commandBuffer->makeRenderEncoder(pass)) {
    encoder->setLabel("Quorvel cards");
    recording.replay(*encoder, area.rect, fromStill ? DrawRecording::Draws::allButFirst : DrawRecording::Draws::all);
    encoder->endEncoding();
  }
  drawable->setDamage(sinceShown_.whole ? std::nullopt : sinceShown_.rect);
  sinceShown_ = FrameDamage{};
  lastArea_ = area.rect;
  commandBuffer->present(drawable);
  commandBuffer->commit();
  frameSlot_ = (frameSlot_ + 1) % static_cast<int>(std::max<size_t>(uniformBuffers_.size(), 1));
  releaseOverlayChrome();  // committed: a copy submitted from now on runs after this frame
  pacing_.noteFrameGap(frame.liveCount, frame.isAtRest, frame.isDismissing, dt, livePreview());
}

bool CardRenderer::copyBackdropStill(GpuCommandBuffer& commands, const DrawRecording& recording,
                                     const std::shared_ptr<GpuDrawable>& drawable, std::optional<GpuRegion> area) {
  const std::optional<BackdropStill> backdrop = recordedBackdrop_[shown_];
  const std::optional<BackdropStill> before = std::exchange(lastBackdrop_, backdrop);
  // A swapchain's image takes no copies; the reference frames draw everything.
  if (!backdrop || !drawsOpaqueInteriors_ || !drawable->keepsContents()) return false;
  if (stillKey_ != backdrop) {
    // Still changing (fading in): drawn in the frame, as it is not worth keeping.
    if (before != backdrop) return false;
    stillKey_.reset();
    if (!stillTexture_ || stillTexture_->width() != backdrop->width || stillTexture_->height() != backdrop->height) {
      GpuTextureDescriptor d;
      d.width = backdrop->width;
      d.height = backdrop->height;
      d.renderTarget = true;
      d.label = "Quorvel backdrop still";
      stillTexture_ = device_->makeTexture(d);
      if (!stillTexture_) return false;
    }
    GpuRenderPass pass;
    pass.colorTexture = stillTexture_;
    pass.clear = true;
    pass.clearColor = {backdrop->clear.x, backdrop->clear.y, backdrop->clear.z, backdrop->clear.w};
    auto encoder = commands.makeRenderEncoder(pass);
    if (!encoder) return false;
    encoder->setLabel("Quorvel backdrop still");
    recording.replay(*encoder, std::nullopt, DrawRecording::Draws::firstOnly);
    encoder->endEncoding();
    stillKey_ = backdrop;
  }
  auto blit = commands.makeBlitEncoder();
  if (!blit) return false;
  blit->setLabel("Quorvel backdrop");
  const GpuRegion whole{0, 0, backdrop->width, backdrop->height};
  const bool copied = blit->copyRegion(stillTexture_, drawable->texture(), area.value_or(whole));
  blit->endEncoding();
  return copied;
}

void CardRenderer::recycle(const std::shared_ptr<GpuDrawable>& drawable) {
  auto commandBuffer = commandQueue_->makeCommandBuffer();
  if (!commandBuffer) return;
  commandBuffer->setLabel("Quorvel recycle");
  commandBuffer->present(drawable);
  commandBuffer->commit();
}

void CardRenderer::reseedPacing(double refreshRate, bool restGateOff, bool isotropic) {
  pacing_.reseed(refreshRate, restGateOff, isotropic, wake_.revision());
}

void CardRenderer::requestRestart(double refreshRate) {
  restartLock_.withLock([&] { pendingRestart_ = refreshRate; });
}

void CardRenderer::waitForFramesInFlight() {
  using namespace std::chrono_literals;
  int taken = 0;
  for (int i = 0; i < 2; ++i) {
    if (inFlight_->try_acquire() || inFlight_->try_acquire_for(50ms)) ++taken;
    else break;
  }
  if (taken > 0) inFlight_->release(taken);
}

void CardRenderer::setLivePreview(bool on) {
  livePreviewLock_.withLock([&] { livePreview_ = on; });
}

bool CardRenderer::livePreview() const {
  return livePreviewLock_.withLock([&] { return livePreview_; });
}

void CardRenderer::setAccentColor(Float4 color) {
  accentLock_.withLock([&] { accent_ = Float4{color.x, color.y, color.z, 1.0f}; });
  wake_.bump();
}

Float4 CardRenderer::accentColor() const {
  return accentLock_.withLock([&] { return accent_; });
}

void CardRenderer::setBackdrop(Float4 premultiplied) {
  auto unit = [](float v) { return std::isfinite(v) ? std::clamp(v, 0.0f, 1.0f) : 0.0f; };
  const float a = unit(premultiplied.w);
  // A premultiplied colour never has a channel above its alpha.
  const Float4 colour{std::min(unit(premultiplied.x), a), std::min(unit(premultiplied.y), a),
                      std::min(unit(premultiplied.z), a), a};
  const bool changed = overlayLock_.withLock([&] { return !(std::exchange(backdrop_, colour) == colour); });
  if (changed) wake_.bump();
}

Float4 CardRenderer::backdrop() const {
  return overlayLock_.withLock([&] { return backdrop_; });
}

bool CardRenderer::setOverlayChrome(const RasterBitmap& bitmap) {
  return setOverlayChrome(bitmap, RasterRegions::whole(bitmap.width(), bitmap.height()));
}

bool CardRenderer::setOverlayChrome(const RasterBitmap& bitmap, const RasterRegions& painted) {
  return setOverlayChrome(bitmap, painted, false);
}

bool CardRenderer::setOverlayChrome(const RasterSheet& sheet) { return setOverlayChrome(sheet.pixels, sheet.painted); }

bool CardRenderer::setOverlayChromeSheet(const RasterBitmap& pieces, const RasterRegions& painted) {
  return setOverlayChrome(pieces, painted, true);
}

bool CardRenderer::setOverlayChrome(const RasterBitmap& bitmap, const RasterRegions& painted, bool sheet) {
  // The size of the bitmap the rectangles were painted in: this one, or the one a sheet was cut from.
  const int bw = sheet ? painted.width() : bitmap.width(), bh = sheet ? painted.height() : bitmap.height();
  if (bitmap.width() < 1 || bitmap.height() < 1 || bw < 1 || bh < 1) return false;
  const auto w = static_cast<uint32_t>(bw), h = static_cast<uint32_t>(bh);
  const auto gpu = [](const RasterRegion& r) {
    return GpuRegion{static_cast<uint32_t>(r.x), static_cast<uint32_t>(r.y), static_cast<uint32_t>(r.width),
                     static_cast<uint32_t>(r.height)};
  };
  std::vector<GpuRegion> regions, from;
  const std::vector<RasterRegion> places = sheet ? RasterSheet::places(painted) : std::vector<RasterRegion>{};
  for (size_t i = 0; i < painted.rects().size(); ++i) {
    const RasterRegion in = painted.rects()[i].intersected({0, 0, bw, bh});
    if (in.isEmpty()) continue;
    const RasterRegion source = sheet ? places[i] : in;
    if (source.width != in.width || source.height != in.height ||
        source.intersected({0, 0, bitmap.width(), bitmap.height()}) != source)
      return false;  // a sheet that does not hold its rectangles
    regions.push_back(gpu(in));
    from.push_back(gpu(source));
  }
  if (regions.empty()) {
    // Nothing painted: nothing to upload and nothing to draw.
    const bool had = [&] {
      std::lock_guard held(chromeMutex_);
      return std::exchange(chromeShown_, ChromeLayer{}).texture != nullptr;
    }();
    if (had) wake_.bump();
    return true;
  }
  // Where the rectangles go in the texture: one under the other at its left edge, so that it is as
  // small as the chrome. Rectangles taller together than the bitmap keep their own places in a
  // texture of its size (a sheet never is).
  uint32_t widest = 0, stacked = 0;
  for (const GpuRegion& r : regions) {
    widest = std::max(widest, r.width);
    stacked += r.height;
  }
  const bool packed = stacked <= h;
  std::vector<GpuRegion> sources = regions;
  if (packed) {
    uint32_t y = 0;
    for (GpuRegion& r : sources) {
      r.x = 0;
      r.y = y;
      y += r.height;
    }
  }
  // The size asked for, rounded up so that the next chrome (a longer query, a fade) usually fits.
  constexpr uint32_t kGrain = 64;
  const auto roundUp = [](uint32_t v, uint32_t limit) { return std::min((v + kGrain - 1) / kGrain * kGrain, limit); };
  const uint32_t needW = packed ? roundUp(widest, w) : w, needH = packed ? roundUp(stacked, h) : h;
  const auto fits = [&](const std::shared_ptr<GpuTexture>& t) {
    return t && t->width() >= needW && t->height() >= needH &&
           uint64_t{t->width()} * t->height() <= 4 * uint64_t{needW} * needH;
  };
  // The texture the frames do not draw: the other one than the one shown, or the one filled last
  // while none is shown.
  size_t slot = chromeFilled_;
  std::shared_ptr<GpuTexture> target;
  {
    std::unique_lock held(chromeMutex_);
    if (chromeShown_.texture && chromeShown_.texture == chromeTextures_[slot]) slot = 1 - slot;
    target = chromeTextures_[slot];
    // A frame that took this texture before the other one was shown may still be encoding it; once
    // committed, the GPU runs it before the copy below.
    if (fits(target)) chromeReleased_.wait(held, [&] { return chromeInFrame_ != target.get(); });
  }
  if (!fits(target)) {
    target = device_->makeTexture({needW, needH, 1, false, "Quorvel overlay chrome " + std::to_string(slot)});
    if (!target) return false;
    chromeTextures_[slot] = target;
  }
  bool filled = false;
  if (packed) {
    // The rectangles' rows copied to their places, rows as long as the texture's.
    const size_t row = size_t{target->width()} * 4;
    std::vector<uint8_t> staging(row * stacked);
    for (size_t i = 0; i < regions.size(); ++i)
      for (uint32_t y = 0; y < regions[i].height; ++y)
        std::memcpy(staging.data() + (sources[i].y + y) * row,
                    bitmap.data() + (from[i].y + y) * bitmap.bytesPerRow() + size_t{from[i].x} * 4,
                    size_t{regions[i].width} * 4);
    filled = target->replaceRegions(0, sources, staging.data(), row);
  } else {
    filled = target->replaceRegions(0, from, bitmap.data(), bitmap.bytesPerRow());
  }
  if (!filled) return false;
  chromeFilled_ = slot;
  {
    std::lock_guard held(chromeMutex_);
    chromeShown_ = ChromeLayer{target, std::move(regions), std::move(sources), w, h, ++chromeGeneration_};
  }
  wake_.bump();
  return true;
}

void CardRenderer::clearOverlayChrome() {
  const bool had = [&] {
    std::lock_guard held(chromeMutex_);
    return std::exchange(chromeShown_, ChromeLayer{}).texture != nullptr;
  }();
  if (had) wake_.bump();
}

std::shared_ptr<GpuTexture> CardRenderer::overlayChrome() const {
  std::lock_guard held(chromeMutex_);
  return chromeShown_.texture;
}

std::vector<GpuRegion> CardRenderer::overlayChromeRegions() const {
  std::lock_guard held(chromeMutex_);
  return chromeShown_.regions;
}

std::vector<GpuRegion> CardRenderer::overlayChromeSources() const {
  std::lock_guard held(chromeMutex_);
  return chromeShown_.sources;
}

CardRenderer::ChromeLayer CardRenderer::takeOverlayChrome() {
  std::lock_guard held(chromeMutex_);
  chromeInFrame_ = chromeShown_.texture.get();
  return chromeShown_;
}

void CardRenderer::releaseOverlayChrome() {
  {
    std::lock_guard held(chromeMutex_);
    if (!chromeInFrame_) return;
    chromeInFrame_ = nullptr;
  }
  chromeReleased_.notify_all();
}

}  // namespace quorvel
