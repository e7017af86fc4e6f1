// The draw passes of the card renderer: one scene frame into the draws of one render pass.
#include <algorithm>
#include <cmath>

#include "scene/CameraRig.h"
#include "scene/CardPosePass.h"
#include "scene/render/CardRenderer.h"
#include "scene/render/CardUniforms.h"
#include "scene/PictureFit.h"

namespace quorvel {
namespace {

// Record offsets inside a card's block of 14.
enum Record : size_t {
  kPicture = 0,
  kIconWithPicture = 1,  // also the plain card's application icon
  kGlyphOrLabel = 2,     // status glyph with a picture, label plate without
  kReflection = 3,
  kRing = 4,
  kShadow = 5,
  kTitle = 6,
  kClose = 7,
  kMinimize = 8,
  kGlyphPlain = 9,
  kCount = 10,
  kIconPlain = 11,
  kSiteOnBadge = 12,
  kSiteOnPlainIcon = 13,
};

constexpr float kPointUnit = 0.9326152f;  // 2 tan 25°: one point at unit depth over the view height in points

Float4x4 scaled(const Float4x4& m, float sx, float sy) {
  Float4x4 s;
  s.columns[0].x = sx;
  s.columns[1].y = sy;
  return m * s;
}

Float4 rowOf(const Float4x4& m, int row) {
  return {m.columns[0][row], m.columns[1][row], m.columns[2][row], m.columns[3][row]};
}

Float3 column3(const Float4x4& m, int c) { return {m.columns[c].x, m.columns[c].y, m.columns[c].z}; }

float clamp01(float v) { return std::clamp(scene::finiteOr(v, 0.0f), 0.0f, 1.0f); }

// The tail weight at `span` places from the focus for a reach (none: everything is drawn).
float tailWeight(std::optional<float> reach, float fade, float span) {
  if (!reach || !std::isfinite(span)) return 1;
  return scene::smoothstep((*reach + fade - span) / fade);
}

// Distance in places between a slot's place and the focus place, the short way round the list.
float slotSpan(const std::optional<PileLook>& look, const CardSlot& slot, double focus) {
  if (look) return static_cast<float>(ClusterAssignment::circularDistance(look->place, look->placeFocus, look->placeCount));
  return static_cast<float>(ClusterAssignment::circularDistance(slot.index, focus + slot.focusShift, slot.count));
}

}  // namespace

void CardRenderer::prepareScratch(size_t n) {
  if (models_.size() == n) {
    for (size_t i = 0; i < n; ++i) order_[i] = static_cast<int>(i);
    return;
  }
  poses_.assign(n, CardPose{});
  models_.assign(n, Float4x4::identity());
  depths_.assign(n, 0);
  order_.resize(n);
  for (size_t i = 0; i < n; ++i) order_[i] = static_cast<int>(i);
  for (auto* v : {&highlights_, &facings_, &stackBiases_, &chromeWeights_, &drawWeights_, &chromeFades_, &slotSpans_,
                  &markSpans_, &fromSpans_})
    v->assign(n, 0);
  pileMembers_.assign(n, 0);
  culled_.assign(n, 0);
}

void CardRenderer::sortDrawOrder(size_t count) {
  auto after = [&](int a, int b) {
    const float da = depths_[a], db = depths_[b];
    if (std::fabs(da - db) > 0.03f) return da > db;
    if (stackBiases_[a] != stackBiases_[b]) return stackBiases_[a] < stackBiases_[b];
    if (highlights_[a] != highlights_[b]) return highlights_[a] > highlights_[b];
    return a > b;
  };
  for (size_t i = 1; i < count; ++i) {
    const int entry = order_[i];
    size_t j = i;
    while (j > 0 && after(order_[j - 1], entry)) {
      order_[j] = order_[j - 1];
      --j;
    }
    order_[j] = entry;
  }
}

void CardRenderer::bindTexture(GpuRenderEncoder& encoder, const std::shared_ptr<GpuTexture>& texture) {
  const std::shared_ptr<GpuTexture>& t = texture ? texture : fallbackTexture_;
  if (t.get() == boundTexture_) return;
  encoder.setFragmentTexture(t, 0);
  boundTexture_ = t.get();
}

void CardRenderer::drawRecord(GpuRenderEncoder& encoder, size_t record) {
  const uint32_t index = static_cast<uint32_t>(record);
  encoder.setVertexBytes(&index, sizeof index, 2);
  encoder.drawTriangleStrip(0, 4);
}

void CardRenderer::drawVisible(GpuRenderEncoder& encoder, size_t record, const Float4x4& mvp, size_t firstPlace,
                               std::optional<GpuRegion> hole) {
  const std::optional<GpuRegion> bounds =
      occlusion_.interiorCount() > 0 || hole ? occlusion_.quadBounds(mvp) : std::nullopt;
  if (!bounds) {
    drawRecord(encoder, record);
    return;
  }
  const CardOcclusion::Parts parts = occlusion_.visibleParts(*bounds, firstPlace, hole);
  if (parts.count == 0) return;
  if (parts.whole) {
    drawRecord(encoder, record);
    return;
  }
  const uint32_t index = static_cast<uint32_t>(record);
  encoder.setVertexBytes(&index, sizeof index, 2);
  for (size_t p = 0; p < parts.count; ++p) {
    encoder.setScissor(parts.rects[p]);
    encoder.drawTriangleStrip(0, 4);
  }
  encoder.setScissor(std::nullopt);
}

void CardRenderer::drawInterior(GpuRenderEncoder& encoder, GpuRegion interior, size_t place, bool levelZero) {
  const CardOcclusion::Parts parts = occlusion_.visibleParts(interior, place + 1);
  if (parts.count == 0) return;
  encoder.setPipeline(interiorPipeline_);
  if (levelZero) encoder.setFragmentSampler(levelZeroSampler_, 0);
  for (size_t p = 0; p < parts.count; ++p) {
    // The quad split as the blended one was, so every pixel gets the same colour from it. (A
    // driver drops earlier work only under tiles one triangle fills alone; what lies under the
    // interior was cut from the earlier draws already, and drawing the quad split along its other
    // diagonal first, to reach the tiles on this one's, would shade most of the interior twice.)
    encoder.setScissor(parts.rects[p]);
    encoder.drawTriangleStrip(0, 4);
  }
  encoder.setScissor(std::nullopt);
  if (levelZero) encoder.setFragmentSampler(cardSampler_, 0);
  encoder.setPipeline(pipeline_);
}

std::pair<Float3, Float3> CardRenderer::discCentres(const Float4x4& model, const CardChromeRow::Marks& marks) {
  const Float3 right = column3(model, 0), up = column3(model, 1), centre = column3(model, 3);
  const Float3 close = CardChromeRow::cornerAnchor(right, up, centre, marks.discStep * 0.5f).second;
  const Float3 minimize = CardChromeRow::cornerAnchor(right, up, centre, marks.discStep * 1.5f).second;
  return {close, minimize};
}

void CardRenderer::drawShadow(GpuRenderEncoder& encoder, CardUniforms* records, const Float4x4& vp,
                              const Float4x4& model, Float2 size, float cornerRadius, float spread, float opacity,
                              size_t record, size_t place) {
  if (!(opacity > 0.004f) || !(size.x > 0) || !(size.y > 0) || !(spread > 0)) return;
  CardUniforms& u = records[record];
  u = CardUniforms{};
  u.mvp = vp * scaled(model, (size.x + 2 * spread) / size.x, (size.y + 2 * spread) / size.y);
  u.size = {size.x + 2 * spread, size.y + 2 * spread};
  u.cornerRadius = cornerRadius;
  u.alpha = opacity;
  u.brightness = spread;
  u.isShadow = 1;
  bindTexture(encoder, nullptr);
  encoder.setPipeline(plainPipeline_);
  drawVisible(encoder, record, u.mvp, place);
  encoder.setPipeline(pipeline_);
}

void CardRenderer::drawMark(GpuRenderEncoder& encoder, CardUniforms* records, const Float4x4& vp,
                            const std::shared_ptr<GpuTexture>& texture, const Float4x4&, const CardPose& cardPose,
                            Float3 centre, Float2 size, float alpha, size_t record, bool plate) {
  if (!(alpha > 0.004f) || !texture || !(size.x > 0) || !(size.y > 0)) return;
  CardPose mark{centre, cardPose.yaw, cardPose.pitch, size};
  CardUniforms& u = records[record];
  u = CardUniforms{};
  u.mvp = vp * mark.modelMatrix();
  u.size = size;
  u.alpha = alpha;
  u.hasTexture = 1;
  // A text plate drawn as its coverage (a single channel) gets its colours in the shader.
  if (plate && texture->format() == GpuPixelFormat::r8Unorm) u.plateOpacity = kPlateOpacity;
  bindTexture(encoder, texture);
  drawRecord(encoder, record);
}

bool CardRenderer::samplesLevelZero(const CardUniforms& u, const GpuTexture& picture, float viewWidth,
                                    float viewHeight) const {
  // A picture shown larger than its texture everywhere is sampled at level 0 alone: the same
  // pixels, at less work a pixel for a CPU driver (the fly-in starts with every card on its window,
  // twice the size of its picture). Not while every draw is made whole (the reference frames).
  return drawsOpaqueInteriors_ &&
         magnifiesTexture(u.mvp,
                          {static_cast<float>(picture.width()) * u.contentExtent.x / u.pictureScale.x,
                           static_cast<float>(picture.height()) * u.contentExtent.y / u.pictureScale.y},
                          viewWidth, viewHeight);
}

void CardRenderer::drawReflections(GpuRenderEncoder& encoder, CardUniforms* records, const SceneFrame&,
                                   const std::vector<MorphSample>& samples, const Float4x4& vp, float floorY,
                                   size_t drawn, float viewWidth, float viewHeight) {
  Float4x4 mirror;
  mirror.columns[1].y = -1;
  mirror.columns[3].y = 2 * floorY;
  for (size_t k = 0; k < drawn; ++k) {
    const int i = order_[k];
    const MorphSample& s = samples[i];
    const float weight = drawWeights_[i] * chromeWeights_[i] * clamp01(s.progress) * clamp01(s.alpha);
    if (!(weight > 0.004f)) continue;
    const std::optional<CardPicture>& picture = pictures_[static_cast<size_t>(i)];
    const bool hasPicture = picture && picture->texture;
    const Float2 size = poses_[i].size;
    CardUniforms& u = records[kRecordsPerCard * k + kReflection];
    u = CardUniforms{};
    u.mvp = vp * mirror * models_[i];
    u.size = size;
    u.cornerRadius = 0.025f * std::min(size.x, size.y);
    u.alpha = weight;
    u.brightness = 1 + clamp01(s.progress) * (0.7f * facings_[i] + 0.3f - 1);
    u.hasTexture = hasPicture ? 1 : 0;
    u.isReflection = 1;
    u.floorY = floorY;
    u.modelY = rowOf(models_[i], 1);
    u.reflectionStrength = 0.35f;
    u.reflectionFade = 0.8f;
    if (hasPicture) {
      u.contentExtent = {static_cast<float>(picture->extent.width), static_cast<float>(picture->extent.height)};
      u.contentOrigin = {static_cast<float>(picture->extent.originX), static_cast<float>(picture->extent.originY)};
      u.pictureScale = PictureFit::scaleForPicture(
          Float2{static_cast<float>(picture->texture->width()), static_cast<float>(picture->texture->height())},
          u.contentExtent, size);
    }
    bindTexture(encoder, hasPicture ? picture->texture : nullptr);
    const bool levelZero = hasPicture && samplesLevelZero(u, *picture->texture, viewWidth, viewHeight);
    if (levelZero) encoder.setFragmentSampler(levelZeroSampler_, 0);
    drawVisible(encoder, kRecordsPerCard * k + kReflection, u.mvp, 0);
    if (levelZero) encoder.setFragmentSampler(cardSampler_, 0);
  }
}

void CardRenderer::draw(GpuRenderEncoder& encoder, const SceneFrame& frame, const std::vector<MorphSample>& samples,
                        float viewWidth, float viewHeight) {
  const size_t n = frame.cards->size();
  // 1. Early exits and the frame's uniform buffer: the cards' blocks, then the overlay chrome's
  // record.
  drawn_ = 0;
  const bool drawsCards = n > 0 && samples.size() == n;
  const ChromeLayer chrome = takeOverlayChrome();  // released by frame() once committed
  const size_t chromeRecords = chrome.texture ? chrome.regions.size() : 0;
  const BackdropPicture backdrop = takeBackdropPicture();
  const size_t backdropRecords = backdrop.texture ? 1 : 0;
  if (!drawsCards && chromeRecords == 0 && backdropRecords == 0) return;
  const size_t cardRecords = drawsCards ? kRecordsPerCard * n : 0;
  const size_t need = cardRecords + chromeRecords + backdropRecords;
  if (uniformCapacity_ < need) ensureUniformCapacity(need * 2);
  if (uniformCapacity_ < need || uniformBuffers_.empty()) return;
  // The slot advances once the frame is committed (a frame recorded and not drawn reuses it).
  const std::shared_ptr<GpuBuffer> buffer =
      uniformBuffers_[static_cast<size_t>(frameSlot_) % uniformBuffers_.size()];
  auto* records = static_cast<CardUniforms*>(buffer->contents());
  boundTexture_ = nullptr;
  if (backdropRecords > 0) {
    drawBackdropPicture(encoder, backdrop, buffer, records, cardRecords + chromeRecords, viewWidth, viewHeight);
    drawnBackdrop_ = BackdropStill{backdrop.texture, backdrop.opacity, backdrop.brightness};
  }
  if (drawsCards) drawCards(encoder, frame, samples, viewWidth, viewHeight, buffer, records);
  if (chromeRecords > 0) drawOverlayChrome(encoder, chrome, buffer, records, cardRecords);
}

void CardRenderer::drawOverlayChrome(GpuRenderEncoder& encoder, const ChromeLayer& chrome,
                                     const std::shared_ptr<GpuBuffer>& buffer, CardUniforms* records, size_t record) {
  encoder.setPipeline(pipeline_);
  encoder.setVertexBuffer(quadBuffer_, 0, 0);
  encoder.setVertexBuffer(buffer, 0, 1);
  encoder.setFragmentSampler(isotropicSampler_, 0);  // one texel a pixel: no anisotropy to gain
  const Float4 accent = accentColor();
  const float scale = 1;
  encoder.setFragmentBytes(&accent, sizeof accent, 0);
  encoder.setFragmentBytes(&scale, sizeof scale, 1);
  bindTexture(encoder, chrome.texture);
  // One quad per painted rectangle, over the same share of the target as of the bitmap (clip
  // space, y up; the bitmap's top row at the top), sampling that rectangle's texels in the
  // texture. The rectangles never overlap, so no pixel is drawn twice.
  const auto bw = static_cast<float>(chrome.width), bh = static_cast<float>(chrome.height);
  const auto tw = static_cast<float>(chrome.texture->width()), th = static_cast<float>(chrome.texture->height());
  for (size_t i = 0; i < chrome.regions.size(); ++i) {
    const GpuRegion& r = chrome.regions[i];
    const GpuRegion& from = chrome.sources[i];
    const Float2 origin{static_cast<float>(r.x) / bw, static_cast<float>(r.y) / bh};
    const Float2 extent{static_cast<float>(r.width) / bw, static_cast<float>(r.height) / bh};
    CardUniforms& u = records[record + i];
    u = CardUniforms{};
    u.mvp = scaled(Float4x4::identity(), 2 * extent.x, 2 * extent.y);
    u.mvp.columns[3].x = 2 * (origin.x + extent.x / 2) - 1;
    u.mvp.columns[3].y = 1 - 2 * (origin.y + extent.y / 2);
    // Measured in texels (one a pixel): the edge coverage the shader works out is then whole on
    // every side, also of a long thin rectangle.
    u.size = {static_cast<float>(r.width), static_cast<float>(r.height)};
    u.hasTexture = 1;
    u.contentOrigin = {static_cast<float>(from.x) / tw, static_cast<float>(from.y) / th};
    u.contentExtent = {static_cast<float>(from.width) / tw, static_cast<float>(from.height) / th};
    // Not read by the shader for this draw: a new bitmap in the same texture makes the record new,
    // so the frame comparison sees the chrome changed (DrawRecording compares textures as objects).
    u.floorY = static_cast<float>(chrome.generation % (uint64_t{1} << 24));
    drawRecord(encoder, record + i);
  }
}

void CardRenderer::drawCards(GpuRenderEncoder& encoder, const SceneFrame& frame, const std::vector<MorphSample>& samples,
                             float viewWidth, float viewHeight, const std::shared_ptr<GpuBuffer>& buffer,
                             CardUniforms* records) {
  const auto& cards = *frame.cards;
  const size_t n = cards.size();

  // 2. Camera.
  const CameraRig rig = CameraRig::fromFrame(frame, viewWidth, viewHeight);
  const float scale = frame.contentsScale > 0 ? frame.contentsScale : 1.0f;
  const float heightPoints = viewHeight / scale;
  const float pointUnit = heightPoints > 1 ? kPointUnit / heightPoints : kPointUnit;

  // 3. Reaches.
  std::optional<float> drawReach, chromeReach;
  if (!frame.isDismissing && !frame.layout.outgoing()) {
    if (auto own = frame.layout.drawPlaces()) drawReach = frame.tailTuning.drawPlaces.value_or(*own);
    if (auto own = frame.layout.chromePlaces()) chromeReach = frame.tailTuning.chromePlaces.value_or(*own);
  }
  const float fade = std::max(frame.tailTuning.fadePlaces, 0.001f);

  // 4. Scratch, pile weight and the pointer's place.
  prepareScratch(n);
  const float pileWeight = frame.layout.pileWeight();
  const bool mapped = frame.liveCount >= 1 && frame.clusters.covers(frame.liveCount);
  std::optional<double> pointerPlace;
  if (frame.pointerSelection) {
    pointerPlace = mapped ? static_cast<double>(frame.clusters.place(*frame.pointerSelection))
                          : static_cast<double>(*frame.pointerSelection);
  }
  const bool fadesHeroTitle = frame.showTitles && frame.showHeroTitle && frame.fadeSelectedTitle;
  const float r = frame.reformBlend;
  const float floorRatio = frame.tailTuning.chromeFloor > 0 ? std::min(frame.tailTuning.chromeFloor, 1.0f) : 0.0f;

  // 5. Every card's weights and pose.
  for (size_t i = 0; i < n; ++i) {
    const MorphSample& s = samples[i];
    const auto toLook = CardPosePass::slotLook(s.to, frame.clusters, frame.focus, frame.flipFocus, pileWeight,
                                               frame.stackTuning, frame.flipReach);
    std::optional<PileLook> fromLook;
    if (r < 1)
      fromLook = CardPosePass::slotLook(s.from, frame.clustersFrom, frame.focus, frame.flipFocus, pileWeight,
                                        frame.stackTuning, frame.flipReach);
    slotSpans_[i] = slotSpan(toLook, s.to, frame.focus);
    fromSpans_[i] = r < 1 ? slotSpan(fromLook, s.from, frame.focus) : slotSpans_[i];

    const bool pinned = s.isGhost || s.pointerHighlight > 0;
    float tail = pinned ? 1 : tailWeight(drawReach, fade, slotSpans_[i]);
    if (r < 1 && !pinned) {
      const float before = tailWeight(drawReach, fade, fromSpans_[i]);
      tail = before + (tail - before) * r;
    }
    float pileAlpha = toLook ? toLook->rankFade : 1.0f;
    if (r < 1) {
      const float before = fromLook ? fromLook->rankFade : 1.0f;
      pileAlpha = before + (pileAlpha - before) * r;
    }
    drawWeights_[i] = tail * pileAlpha;
    if (!(drawWeights_[i] > 0.004f)) {
      culled_[i] = 1;
      continue;
    }
    if (pinned) {
      chromeWeights_[i] = 1;
    } else {
      float chrome = floorRatio + (1 - floorRatio) * tailWeight(chromeReach, fade, slotSpans_[i]);
      if (r < 1) {
        const float before = floorRatio + (1 - floorRatio) * tailWeight(chromeReach, fade, fromSpans_[i]);
        chrome = before + (chrome - before) * std::clamp(r, 0.0f, 1.0f);
      }
      chromeWeights_[i] = chrome;
    }
    const auto placed = CardPosePass::cardPose(cards[i], s, frame.layout, rig, toLook, fromLook, frame.focus, r,
                                               frame.pointerPresence);
    poses_[i] = placed.pose;
    highlights_[i] = placed.highlight;
    stackBiases_[i] = placed.depthPush;
    if (fadesHeroTitle && frame.pointerPresence > 0 && pointerPlace) {
      const double place = toLook ? toLook->place : s.to.index;
      const int count = toLook ? toLook->placeCount : s.to.count;
      markSpans_[i] = static_cast<float>(ClusterAssignment::circularDistance(place, *pointerPlace, count));
    }
    culled_[i] = 0;
    facings_[i] = CardPosePass::cardFacing(s, frame.layout, toLook, fromLook, frame.focus, r);
    float chromeFade = toLook ? toLook->frontVisibility : 1.0f;
    if (r < 1) {
      const float before = fromLook ? fromLook->frontVisibility : 1.0f;
      chromeFade = before + (chromeFade - before) * r;
    }
    chromeFades_[i] = chromeFade;
    pileMembers_[i] = toLook ? toLook->width : 1;
    models_[i] = placed.pose.modelMatrix();
    depths_[i] = rig.viewDepth(placed.pose.position);
  }

  // 6 and 7. The drawn cards, back to front.
  size_t drawn = 0;
  for (size_t i = 0; i < n; ++i)
    if (!culled_[i]) order_[drawn++] = static_cast<int>(i);
  sortDrawOrder(drawn);
  drawn_ = drawn;

  // 8. The shape line.
  const int places = mapped ? std::max(frame.clusters.pileCount(), 1) : static_cast<int>(n);
  float low = INFINITY, high = -INFINITY;
  for (size_t k = 0; k < drawn; ++k) {
    low = std::min(low, poses_[order_[k]].position.y);
    high = std::max(high, poses_[order_[k]].position.y);
  }
  pacing_.logShape(frame.layout, frame.liveCount, places, mapped, static_cast<int>(drawn), drawn ? high - low : 0);

  // The cards' pictures, and the opaque interiors the cards will draw: what a draw before them can
  // leave out.
  const Float4x4& vp = rig.viewProjection;
  if (pictures_.size() != n) pictures_.assign(n, std::nullopt);
  interiors_.assign(drawn, std::nullopt);
  occlusion_.reset(static_cast<uint32_t>(viewWidth), static_cast<uint32_t>(viewHeight));
  for (size_t k = 0; k < drawn; ++k) {
    const auto i = static_cast<size_t>(order_[k]);
    pictures_[i] = providers_.picture ? providers_.picture(cards[i].id) : std::nullopt;
    const std::optional<CardPicture>& picture = pictures_[i];
    const float a = drawWeights_[i] * clamp01(samples[i].alpha);
    if (!drawsOpaqueInteriors_ || !(a > 0.004f) || a != 1.0f) continue;
    if (picture && picture->texture && !picture->opaque) continue;
    const Float2 size = poses_[i].size;
    interiors_[k] = opaqueInterior(vp * models_[i], size, 0.025f * std::min(size.x, size.y), viewWidth, viewHeight);
    if (interiors_[k]) occlusion_.addInterior(k, *interiors_[k]);
  }

  // 9. Pipeline and shared bindings.
  encoder.setPipeline(pipeline_);
  encoder.setVertexBuffer(quadBuffer_, 0, 0);
  encoder.setVertexBuffer(buffer, 0, 1);
  cardSampler_ = pacing_.isotropic() ? isotropicSampler_ : sampler_;
  encoder.setFragmentSampler(cardSampler_, 0);
  const Float4 accent = accentColor();
  encoder.setFragmentBytes(&accent, sizeof accent, 0);
  encoder.setFragmentBytes(&scale, sizeof scale, 1);

  // 10. Reflections under everything.
  if (frame.showReflections) {
    if (auto floorY = frame.layout.floorY())
      drawReflections(encoder, records, frame, samples, vp, *floorY, drawn, viewWidth, viewHeight);
  }

  // 11. Card by card.
  for (size_t k = 0; k < drawn; ++k) {
    const int i = order_[k];
    const size_t u0 = kRecordsPerCard * k;
    const CardSnapshot& card = cards[static_cast<size_t>(i)];
    const MorphSample& s = samples[static_cast<size_t>(i)];
    const float a = drawWeights_[i] * clamp01(s.alpha);
    if (!(a > 0.004f)) continue;
    const std::optional<CardPicture>& picture = pictures_[static_cast<size_t>(i)];
    const bool hasPicture = picture && picture->texture;
    const float p = clamp01(s.progress);
    const float chromeAlpha = a * p * chromeWeights_[i] * chromeFades_[i];

    std::shared_ptr<GpuTexture> titleTexture;
    if (frame.showTitles && chromeAlpha > 0.004f && card.title && providers_.title)
      // Cards flying out ask for no plate: one drawn now would show for a few frames at most.
      titleTexture = providers_.title(*card.title, !s.isGhost && !frame.isDismissing);
    const CardPose& pose = poses_[i];
    const Float2 size = pose.size;
    const float minSide = std::min(size.x, size.y);
    const float point = pointUnit * std::fabs(depths_[i]);
    std::optional<float> titleAspect;
    if (titleTexture)
      titleAspect = titleTexture->height() >= 1
                        ? static_cast<float>(titleTexture->width()) / static_cast<float>(titleTexture->height())
                        : 1.0f;
    const CardChrome chrome = chromeRow(card, frame.showIcons, frame.iconAnchor, frame.showStatusBadges,
                                        pileMembers_[i], point, frame.chromeScale, size, titleAspect);
    const Float4x4& model = models_[i];
    const float radius = 0.025f * minSide;

    // Shadow.
    if (frame.showCardShadows)
      drawShadow(encoder, records, vp, model, size, radius, std::max(0.06f * minSide, 13 * point), chromeAlpha,
                 u0 + kShadow, k);

    // The card.
    {
      CardUniforms& u = records[u0 + kPicture];
      u = CardUniforms{};
      u.mvp = vp * model;
      u.size = size;
      u.cornerRadius = radius;
      u.alpha = a;
      u.brightness = 1 + p * (0.7f * facings_[i] + 0.3f - 1);
      u.hasTexture = hasPicture ? 1 : 0;
      u.highlight = highlights_[i];
      if (hasPicture) {
        u.contentExtent = {static_cast<float>(picture->extent.width), static_cast<float>(picture->extent.height)};
        u.contentOrigin = {static_cast<float>(picture->extent.originX), static_cast<float>(picture->extent.originY)};
        u.pictureScale = PictureFit::scaleForPicture(
            Float2{static_cast<float>(picture->texture->width()), static_cast<float>(picture->texture->height())},
            u.contentExtent, size);
      }
      bindTexture(encoder, hasPicture ? picture->texture : nullptr);
      const bool levelZero = hasPicture && samplesLevelZero(u, *picture->texture, viewWidth, viewHeight);
      if (levelZero) encoder.setFragmentSampler(levelZeroSampler_, 0);
      drawVisible(encoder, u0 + kPicture, u.mvp, k);
      if (levelZero) encoder.setFragmentSampler(cardSampler_, 0);
      // A card opaque inside its rounded edge draws the pixels of its interior once more, without
      // blending: the same colours (a fully covering opaque colour over anything is itself), but a
      // CPU driver then drops whatever was drawn earlier under the tiles they fill, this quad's
      // blended pixels there too.
      if (interiors_[k]) drawInterior(encoder, *interiors_[k], k, levelZero);
    }

    // The selection ring (none while its strength is zero: it would add nothing).
    if (frame.showSelectionRing && highlights_[i] > 0.01f && p * std::min(highlights_[i], 1.0f) * a > 0) {
      const float pad = std::max(0.06f * minSide, 9.5f * point);
      CardUniforms& u = records[u0 + kRing];
      u = CardUniforms{};
      u.mvp = vp * scaled(model, (size.x + 2 * pad) / size.x, (size.y + 2 * pad) / size.y);
      u.size = {size.x + 2 * pad, size.y + 2 * pad};
      u.cornerRadius = radius + pad;
      u.alpha = 1;
      u.brightness = pad;
      u.highlight = p * std::min(highlights_[i], 1.0f) * a;
      u.isOutline = 1;
      bindTexture(encoder, nullptr);
      encoder.setPipeline(plainPipeline_);
      // The ring leaves its card's interior as it is (its band begins half a pixel short of 0.45 of
      // the padding outside the card's edge), so only the pieces around the interior are drawn.
      std::optional<GpuRegion> middle;
      if (drawsOpaqueInteriors_) middle = opaqueInterior(vp * model, size, radius, viewWidth, viewHeight);
      drawVisible(encoder, u0 + kRing, u.mvp, k + 1, middle);
      encoder.setPipeline(pipeline_);
    }

    // Chrome marks, flat on the card's plane.
    const Float3 right = normalizeOrZero(column3(model, 0)), up = normalizeOrZero(column3(model, 1));
    const Float3 centre = pose.position;
    const Float3 topLeft = centre - right * (size.x / 2) + up * (size.y / 2);
    const CardChromeRow::Row& row = chrome.row;
    const CardChromeRow::Marks& marks = row.marks;
    const bool tabCard = card.status.state == WindowState::browserTab;
    auto siteIconOn = [&](Float3 iconCentre, float iconSide, size_t record) {
      if (!tabCard || !providers_.favicon) return;
      const float side = 0.45f * iconSide;
      const float d = 0.5f * iconSide - 0.35f * side;
      drawMark(encoder, records, vp, providers_.favicon(card.id), model, pose, iconCentre + right * d - up * d,
               {side, side}, chromeAlpha, record);
    };
    if (hasPicture) {
      if (frame.showIcons && marks.iconSide > 0 && providers_.icon) {
        auto icon = providers_.icon(card.pid);
        Float3 at = frame.iconAnchor == BadgeAnchor::bottomCenter ? centre - up * (size.y / 2)
                                                                  : topLeft + right * row.icon.value_or(0);
        if (icon && chromeAlpha > 0.004f) {
          drawMark(encoder, records, vp, icon, model, pose, at, {marks.iconSide, marks.iconSide}, chromeAlpha,
                   u0 + kIconWithPicture);
          siteIconOn(at, marks.iconSide, u0 + kSiteOnBadge);
        }
      }
      if (chrome.glyph && marks.glyphSide > 0)
        drawMark(encoder, records, vp, chrome.glyph, model, pose, topLeft + right * row.glyph.value_or(0),
                 {marks.glyphSide, marks.glyphSide}, chromeAlpha, u0 + kGlyphOrLabel);
    } else {
      if (frame.showIcons && providers_.icon) {
        auto icon = providers_.icon(card.pid);
        const float side = 0.34f * minSide;
        const Float3 at = centre + up * (0.15f * size.y);
        if (icon && chromeAlpha > 0.004f) {
          drawMark(encoder, records, vp, icon, model, pose, at, {side, side}, chromeAlpha, u0 + kIconWithPicture);
          siteIconOn(at, side, u0 + kSiteOnPlainIcon);
        }
        if (marks.iconSide > 0) {
          const Float3 badgeAt = frame.iconAnchor == BadgeAnchor::bottomCenter
                                     ? centre - up * (size.y / 2)
                                     : topLeft + right * row.icon.value_or(0);
          drawMark(encoder, records, vp, icon, model, pose, badgeAt, {marks.iconSide, marks.iconSide}, chromeAlpha,
                   u0 + kIconPlain);
        }
      }
      if (card.label && providers_.label) {
        auto plate = providers_.label(*card.label, !frame.isDismissing);
        if (plate && plate->width() >= 1 && plate->height() >= 1) {
          const float aspect = static_cast<float>(plate->width()) / static_cast<float>(plate->height());
          float w = 0.8f * size.x, h = w / aspect;
          if (h > 0.3f * size.y) {
            h = 0.3f * size.y;
            w = h * aspect;
          }
          const Float3 at = frame.showIcons ? centre - up * (0.26f * size.y) : centre;
          drawMark(encoder, records, vp, plate, model, pose, at, {w, h}, chromeAlpha, u0 + kGlyphOrLabel, true);
        }
      }
      if (chrome.glyph && marks.glyphSide > 0)
        drawMark(encoder, records, vp, chrome.glyph, model, pose, topLeft + right * row.glyph.value_or(0),
                 {marks.glyphSide, marks.glyphSide}, chromeAlpha, u0 + kGlyphPlain);
    }

    // Title plate.
    if (frame.showTitles && titleTexture && row.title && row.title->width > 0 && row.title->height > 0) {
      float f = 1;
      if (fadesHeroTitle) {
        auto fadeOf = [&](float span, float mark) {
          float m = span;
          if (frame.pointerSelection) m = span + (mark - span) * frame.pointerPresence;
          if (!std::isfinite(m)) return 1.0f;
          return m <= 0 ? 0.0f : std::min(m, 1.0f);
        };
        f = fadeOf(slotSpans_[i], markSpans_[i]);
        if (r < 1) {
          const float before = fadeOf(fromSpans_[i], markSpans_[i]);
          f = before + (f - before) * std::min(r, 1.0f);
        }
      }
      const float alpha = chromeAlpha * f * scene::smoothstep((facings_[i] - 0.3f) / 0.39999998f);
      drawMark(encoder, records, vp, titleTexture, model, pose, topLeft + right * row.title->centre,
               {row.title->width, row.title->height}, alpha, u0 + kTitle, true);
    }

    // Count badge.
    if (chrome.count && row.count && marks.countHeight > 0 && chrome.count->width() >= 1 &&
        chrome.count->height() >= 1) {
      const float w = marks.countHeight * static_cast<float>(chrome.count->width()) /
                      static_cast<float>(chrome.count->height());
      drawMark(encoder, records, vp, chrome.count, model, pose, topLeft + right * *row.count, {w, marks.countHeight},
               chromeAlpha * pileWeight, u0 + kCount, true);
    }

    // Close and minimize discs.
    if (frame.showActionButtons && card.canAct && highlights_[i] > 0.01f && marks.discSide > 0 &&
        providers_.action) {
      const auto [closeAt, minimizeAt] = discCentres(model, marks);
      const float alpha = a * p * std::min(highlights_[i], 1.0f);
      const CardAction actions[2] = {CardAction::close, CardAction::minimize};
      const Float3 places2[2] = {closeAt, minimizeAt};
      for (int d = 0; d < 2; ++d) {
        const bool hovered = frame.hoveredAction == actions[d];
        const float side = marks.discSide * (hovered ? 1.12f : 1.0f);
        drawMark(encoder, records, vp, providers_.action(actions[d], hovered), model, pose, places2[d], {side, side},
                 alpha, u0 + (d == 0 ? kClose : kMinimize));
      }
    }
  }
  // The pictures are looked up again by the next frame: none is kept alive past this one (the
  // picture cache may let one go while the overlay is hidden).
  std::fill(pictures_.begin(), pictures_.end(), std::nullopt);
}

}  // namespace quorvel
