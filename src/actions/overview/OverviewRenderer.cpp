#include "actions/overview/OverviewRenderer.h"

#include <algorithm>
#include <cstring>

#include "base/Logger.h"
#include "scene/PictureFit.h"

namespace quorvel {

namespace {

const Logger& overviewLogger() {
  // Never destroyed: threads still running as the process ends may log.
  static const Logger& instance = *new Logger("Overview");
  return instance;
}

Rect outset(const Rect& r, double d) { return {r.x - d, r.y - d, r.width + 2 * d, r.height + 2 * d}; }

// View points (origin top left, y down) to clip space (y up).
Float4x4 projection(float w, float h) {
  if (!(w > 0) || !(h > 0)) return Float4x4::identity();
  Float4x4 m;
  m.columns[0] = {2 / w, 0, 0, 0};
  m.columns[1] = {0, -2 / h, 0, 0};
  m.columns[2] = {0, 0, 1, 0};
  m.columns[3] = {-1, 1, 0, 1};
  return m;
}

// Places the unit quad on the rectangle. The quad's y is flipped with the view's, so that its
// texture's top row is drawn at the rectangle's top.
Float4x4 model(const Rect& r) {
  Float4x4 m;
  m.columns[0] = {float(r.width), 0, 0, 0};
  m.columns[1] = {0, -float(r.height), 0, 0};
  m.columns[2] = {0, 0, 1, 0};
  m.columns[3] = {float(r.midX()), float(r.midY()), 0, 1};
  return m;
}

struct Look {
  float cornerRadius = 0, alpha = 1, brightness = 1, highlight = 0;
  bool outline = false, shadow = false;
};

OverviewRenderer::Draw makeDraw(const Float4x4& proj, const Rect& rect, const Look& look) {
  OverviewRenderer::Draw draw;
  CardUniforms& u = draw.uniforms;
  u.mvp = proj * model(rect);
  u.size = {float(rect.width), float(rect.height)};
  u.cornerRadius = look.cornerRadius;
  u.alpha = look.alpha;
  u.brightness = look.brightness;
  u.highlight = look.highlight;
  u.isOutline = look.outline ? 1 : 0;
  u.isShadow = look.shadow ? 1 : 0;
  return draw;
}

OverviewRenderer::Draw picture(const Float4x4& proj, const OverviewRenderer::Miniature& m, float alpha) {
  OverviewRenderer::Draw draw = makeDraw(proj, m.rect, {5, alpha, 1, 0, false, false});
  CardUniforms& u = draw.uniforms;
  u.hasTexture = m.texture ? 1 : 0;
  u.contentExtent = {float(m.extent.width), float(m.extent.height)};
  u.contentOrigin = {float(m.extent.originX), float(m.extent.originY)};
  std::optional<Float2> textureSize;
  if (m.texture) textureSize = Float2{float(m.texture->width()), float(m.texture->height())};
  u.pictureScale = PictureFit::scaleForPicture(textureSize, u.contentExtent, u.size);
  draw.texture = m.texture;
  return draw;
}

}  // namespace

OverviewRenderer::OverviewRenderer(std::shared_ptr<GpuContext> context, GpuSurface& surface, CardPipeline cards,
                                   std::shared_ptr<GpuSampler> sampler)
    : context_(std::move(context)), surface_(surface), cards_(std::move(cards)), sampler_(std::move(sampler)) {}

std::unique_ptr<OverviewRenderer> OverviewRenderer::make(std::shared_ptr<GpuContext> context, GpuSurface& surface) {
  if (!context) return nullptr;
  std::optional<CardPipeline> cards = CardPipeline::make(*context->device);
  if (!cards) return nullptr;
  auto sampler = context->device->makeSampler({1, "Quorvel overview sampler"});
  if (!sampler) return nullptr;
  return std::unique_ptr<OverviewRenderer>(
      new OverviewRenderer(std::move(context), surface, std::move(*cards), std::move(sampler)));
}

void OverviewRenderer::fail(const std::string& reason) const {
  overviewLogger().notice("overview drew nothing: %{public}s", reason);
}

std::vector<OverviewRenderer::Draw> OverviewRenderer::drawList(float pointWidth, float pointHeight) const {
  const Float4x4 proj = projection(pointWidth, pointHeight);
  const std::vector<OverviewGeometry::Region>& regions = scene_.plan.regions;
  std::vector<Draw> draws;
  draws.reserve(regions.size() * 3 + scene_.miniatures.size() * 3 + 3);
  for (const OverviewGeometry::Region& region : regions) {
    draws.push_back(makeDraw(proj, outset(region.rect, 12), {10, 1, 12, 0, false, true}));
    draws.push_back(makeDraw(proj, region.rect, {10, 1, region.isCurrent ? 1.45f : 1.15f, 0, false, false}));
  }
  for (const OverviewGeometry::Region& region : regions) {
    if (region.isCurrent) draws.push_back(makeDraw(proj, outset(region.rect, 5), {15, 1, 2.5f, 0.55f, true, false}));
  }
  for (const Miniature& m : scene_.miniatures) {
    const float a = m.isGhost ? 0.25f : 1.0f;
    draws.push_back(makeDraw(proj, outset(m.rect, 12), {5, 1, 12, 0, false, true}));
    draws.push_back(makeDraw(proj, outset(m.rect, 1.5), {6.5f, a, 3.4f, 0, false, false}));
    draws.push_back(picture(proj, m, a));
  }
  if (scene_.highlightedRegion && *scene_.highlightedRegion >= 0 &&
      static_cast<size_t>(*scene_.highlightedRegion) < regions.size()) {
    draws.push_back(makeDraw(proj, outset(regions[*scene_.highlightedRegion].rect, 5), {15, 1, 2.5f, 1, true, false}));
  }
  if (scene_.carried) {
    draws.push_back(makeDraw(proj, outset(scene_.carried->rect, 12), {5, 1, 12, 0, false, true}));
    draws.push_back(picture(proj, *scene_.carried, 1));
  }
  return draws;
}

bool OverviewRenderer::upload(const std::vector<Draw>& draws) {
  if (draws.empty()) return false;
  if (!uniformBuffer_ || uniformCapacity_ < draws.size()) {
    const size_t capacity = std::max({uniformCapacity_ * 2, draws.size(), kMinimumCapacity});
    auto buffer = context_->device->makeBuffer(capacity * CardUniforms::kStride, "Quorvel overview uniforms");
    if (!buffer) return false;
    uniformBuffer_ = std::move(buffer);
    uniformCapacity_ = capacity;
  }
  auto* records = static_cast<CardUniforms*>(uniformBuffer_->contents());
  for (size_t i = 0; i < draws.size(); ++i) std::memcpy(&records[i], &draws[i].uniforms, sizeof(CardUniforms));
  return true;
}

bool OverviewRenderer::render() {
  const uint32_t width = surface_.drawableWidth(), height = surface_.drawableHeight();
  if (width == 0 || height == 0) {
    fail("the layer has no drawable size, so nothing was drawn");
    return false;
  }
  std::shared_ptr<GpuDrawable> drawable = surface_.nextDrawable();
  if (!drawable) {
    fail("the layer vended no drawable, so nothing was drawn");
    return false;
  }
  const double contentsScale = surface_.contentsScale();
  const double scale = std::max(contentsScale, 1.0);
  const std::vector<Draw> draws = drawList(float(width / scale), float(height / scale));
  if (draws.empty()) {
    fail("the scene is empty: " + std::to_string(scene_.plan.regions.size()) + " regions, " +
         std::to_string(scene_.miniatures.size()) + " windows, tooSmall=" + (scene_.plan.isTooSmall ? "true" : "false"));
    return false;
  }
  if (!upload(draws) || !uniformBuffer_) {
    fail("the uniform buffer could not be grown to " + std::to_string(draws.size()) + " draws");
    return false;
  }
  auto commandBuffer = context_->commandQueue->makeCommandBuffer();
  std::unique_ptr<GpuRenderEncoder> encoder;
  if (commandBuffer) {
    commandBuffer->setLabel("Quorvel overview");
    encoder = commandBuffer->makeRenderEncoder({drawable->texture(), true, GpuColor{0, 0, 0, 0}});
  }
  if (!commandBuffer || !encoder) {
    fail("the GPU would not give the frame a command buffer or an encoder");
    return false;
  }
  encoder->setLabel("Quorvel overview");
  encoder->setPipeline(cards_.blended);
  encoder->setVertexBuffer(cards_.quad, 0, 0);
  encoder->setVertexBuffer(uniformBuffer_, 0, 1);
  encoder->setFragmentSampler(sampler_, 0);
  const float accent[4] = {accent_.x, accent_.y, accent_.z, 1};
  encoder->setFragmentBytes(accent, sizeof accent, 0);
  const float pixelsPerPoint = contentsScale > 0 ? float(contentsScale) : 1.0f;
  encoder->setFragmentBytes(&pixelsPerPoint, sizeof pixelsPerPoint, 1);
  const GpuRenderPipeline* bound = cards_.blended.get();
  for (size_t i = 0; i < draws.size(); ++i) {
    const uint32_t index = static_cast<uint32_t>(i);
    // Shadows and outlines draw through the plain shader, pictures and panels through the card's.
    const CardUniforms& u = draws[i].uniforms;
    const auto& pipeline = u.isShadow > 0.5f || u.isOutline > 0.5f ? cards_.plain : cards_.blended;
    if (pipeline.get() != bound) {
      encoder->setPipeline(pipeline);
      bound = pipeline.get();
    }
    encoder->setVertexBytes(&index, sizeof index, 2);
    encoder->setFragmentTexture(draws[i].texture ? draws[i].texture : cards_.fallbackTexture, 0);
    encoder->drawTriangleStrip(0, 4);
  }
  encoder->endEncoding();
  commandBuffer->present(drawable);
  commandBuffer->commit();
  commandBuffer->waitUntilCompleted();
  return true;
}

}  // namespace quorvel
