#include "pictures/PicturePreparer.h"

#include <algorithm>
#include <cmath>

namespace quorvel {
namespace {

// A quad over the whole target as a triangle strip: clip-space position, texture coordinate.
constexpr float kQuad[16] = {-1, -1, 0, 0, 1, -1, 1, 0, -1, 1, 0, 1, 1, 1, 1, 1};

GpuRegion whole(const GpuTexture& t) { return {0, 0, t.width(), t.height()}; }

}  // namespace

PicturePreparer::PicturePreparer(std::shared_ptr<GpuDevice> device) : device_(std::move(device)) {}

float PicturePreparer::blurSigma(uint32_t width, uint32_t height) {
  const float sigma = static_cast<float>(std::min(width, height)) / 34.0f;
  return std::min(std::max(sigma, kMinSigma), kMaxSigma);
}

PicturePreparer::BlurPlan PicturePreparer::blurPlan(uint32_t width, uint32_t height, uint32_t levels, float sigma) {
  // The variance (in pixels of level 0) left to the blur on level `level`: the box filters that
  // made the level add (4^level - 1) / 12, the linear enlargement back adds 4^level / 6.
  auto remaining = [&](uint32_t level) {
    const double f2 = std::ldexp(1.0, static_cast<int>(2 * level));
    const double spent = (f2 - 1) / 12 + (level > 0 ? f2 / 6 : 0);
    return (static_cast<double>(sigma) * sigma - spent) / f2;
  };
  BlurPlan plan;
  const uint32_t top = std::max(levels, 1u) - 1;
  for (uint32_t level = 1; level <= top; ++level) {
    if ((width >> level) < 1 || (height >> level) < 1) break;
    if (remaining(level) < static_cast<double>(kLevelSigma) * kLevelSigma) break;
    plan.level = level;
  }
  plan.levelSigma = static_cast<float>(std::sqrt(std::max(remaining(plan.level), 0.25)));
  plan.radius = static_cast<int>(std::ceil(3 * plan.levelSigma));
  return plan;
}

std::shared_ptr<GpuTexture> PicturePreparer::makeTexture(uint32_t width, uint32_t height, bool mips,
                                                         const char* label) {
  GpuTextureDescriptor d;
  d.width = width;
  d.height = height;
  d.mipLevels = mips ? GpuTextureDescriptor::fullMipCount(width, height) : 1;
  d.renderTarget = true;
  d.label = label;
  return device_->makeTexture(d);
}

std::optional<PicturePreparer::BlurKit> PicturePreparer::blurKit() {
  std::lock_guard guard(kitMutex_);
  if (kit_) return kit_;
  auto library = device_->makeDefaultLibrary();
  if (!library) return std::nullopt;
  GpuRenderPipelineDescriptor d;
  d.label = "Quorvel thumbnail blur";
  d.vertexFunction = library->makeFunction("pictureBlurVertex");
  d.fragmentFunction = library->makeFunction("pictureBlurFragment");
  d.premultipliedBlending = false;
  if (!d.vertexFunction || !d.fragmentFunction) return std::nullopt;
  BlurKit kit;
  kit.pipeline = device_->makeRenderPipeline(d);
  kit.sampler = device_->makeSampler({1, "Quorvel thumbnail blur sampler"});
  kit.quad = device_->makeBuffer(sizeof(kQuad), "Quorvel thumbnail blur quad");
  // The pipeline's layout wants a record buffer bound; the blur reads none.
  kit.records = device_->makeBuffer(16, "Quorvel thumbnail blur records");
  if (!kit.pipeline || !kit.sampler || !kit.quad || !kit.records) return std::nullopt;
  std::copy(std::begin(kQuad), std::end(kQuad), static_cast<float*>(kit.quad->contents()));
  kit_ = kit;
  return kit_;
}

bool PicturePreparer::encodeBlurPass(GpuCommandBuffer& commands, const BlurKit& kit,
                                     const std::shared_ptr<GpuTexture>& from, const std::shared_ptr<GpuTexture>& to,
                                     bool horizontal, const BlurPlan& plan) {
  auto render = commands.makeRenderEncoder({to, false, {}});
  if (!render) return false;
  render->setLabel(horizontal ? "Quorvel thumbnail blur (across)" : "Quorvel thumbnail blur (down)");
  render->setPipeline(kit.pipeline);
  render->setVertexBuffer(kit.quad, 0, 0);
  render->setVertexBuffer(kit.records, 0, 1);
  render->setFragmentTexture(from, 0);
  render->setFragmentSampler(kit.sampler, 0);
  const float pass[4] = {horizontal ? 1.0f / static_cast<float>(from->width()) : 0.0f,
                         horizontal ? 0.0f : 1.0f / static_cast<float>(from->height()), plan.levelSigma,
                         static_cast<float>(plan.radius)};
  render->setFragmentBytes(pass, sizeof(pass), 0);
  render->drawTriangleStrip(0, 4);
  render->endEncoding();
  return true;
}

std::optional<PicturePreparer::Prepared> PicturePreparer::encode(GpuCommandBuffer& commands,
                                                                 const std::shared_ptr<GpuTexture>& source,
                                                                 std::optional<float> blur,
                                                                 const std::vector<CropRequest>& crops) {
  if (!source) return std::nullopt;
  const uint32_t width = halfSide(source->width()), height = halfSide(source->height());
  Prepared out;
  out.texture = makeTexture(width, height, true, "Quorvel thumbnail");
  if (!out.texture) return std::nullopt;

  std::shared_ptr<GpuTexture> intermediate = out.texture;
  std::optional<BlurKit> kit;
  BlurPlan plan;
  std::shared_ptr<GpuTexture> small, across;
  if (blur) {
    kit = blurKit();
    intermediate = makeTexture(width, height, true, "Quorvel thumbnail blur intermediate");
    if (!kit || !intermediate) return std::nullopt;
    plan = blurPlan(width, height, intermediate->mipLevelCount(), *blur);
    const uint32_t w = std::max(width >> plan.level, 1u), h = std::max(height >> plan.level, 1u);
    small = makeTexture(w, h, false, "Quorvel thumbnail blur level");
    across = makeTexture(w, h, false, "Quorvel thumbnail blur pass");
    if (!small || !across) return std::nullopt;
  }

  auto blit = commands.makeBlitEncoder();
  if (!blit) return std::nullopt;
  blit->setLabel(blur ? "Quorvel thumbnail scale" : "Quorvel thumbnail scale + mipmaps");
  blit->blit(source, 0, whole(*source), intermediate, 0, whole(*intermediate));
  if (blur) {
    if (plan.level > 0) blit->generateMipmaps(intermediate);
    blit->copyLevel(intermediate, plan.level, small, 0);
    blit->endEncoding();
    if (!encodeBlurPass(commands, *kit, small, across, true, plan) ||
        !encodeBlurPass(commands, *kit, across, small, false, plan))
      return std::nullopt;
    blit = commands.makeBlitEncoder();
    if (!blit) return std::nullopt;
    blit->setLabel("Quorvel thumbnail enlarge + mipmaps");
    blit->blit(small, 0, whole(*small), out.texture, 0, whole(*out.texture));
  }
  if (out.texture->mipLevelCount() > 1) blit->generateMipmaps(out.texture);
  for (const CropRequest& crop : crops) {
    const auto w = static_cast<uint32_t>(crop.region.width), h = static_cast<uint32_t>(crop.region.height);
    auto texture = makeTexture(w, h, true, "Quorvel tab crop");
    if (!texture) continue;
    blit->blit(source, 0,
               {static_cast<uint32_t>(crop.region.x), static_cast<uint32_t>(crop.region.y), w, h}, texture, 0,
               whole(*texture));
    if (texture->mipLevelCount() > 1) blit->generateMipmaps(texture);
    out.crops.push_back({crop.tab, std::move(texture)});
  }
  blit->endEncoding();
  return out;
}

}  // namespace quorvel
