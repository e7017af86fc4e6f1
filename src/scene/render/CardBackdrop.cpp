// The card renderer's backdrop picture: the still of the desktop under the cards.
#include <algorithm>
#include <cmath>

#include "gpu/GpuRenderEncoder.h"
#include "scene/render/CardRenderer.h"
#include "scene/render/CardUniforms.h"

namespace quorvel {

bool CardRenderer::setBackdropPicture(const DesktopStill* picture) {
  std::shared_ptr<GpuTexture> texture;
  bool made = true;
  if (picture && picture->isWhole()) {
    const auto w = static_cast<uint32_t>(picture->width), h = static_cast<uint32_t>(picture->height);
    // A texture of its own each time: a frame being encoded may still draw the last one.
    texture = device_->makeTexture({w, h, 1, false, "Quorvel backdrop picture"});
    if (!texture || !texture->replaceLevel(0, picture->pixels.data(), static_cast<size_t>(w) * 4)) {
      texture.reset();
      made = false;
    }
  }
  overlayLock_.withLock([&] { backdropPicture_.texture = std::move(texture); });
  wake_.bump();
  return made;
}

void CardRenderer::setBackdropPictureLook(float opacity, float brightness) {
  auto unit = [](float v) { return std::isfinite(v) ? std::clamp(v, 0.0f, 1.0f) : 0.0f; };
  const bool changed = overlayLock_.withLock([&] {
    const bool was = backdropPicture_.opacity != unit(opacity) || backdropPicture_.brightness != unit(brightness);
    backdropPicture_.opacity = unit(opacity);
    backdropPicture_.brightness = unit(brightness);
    return was && backdropPicture_.texture != nullptr;
  });
  if (changed) wake_.bump();
}

std::shared_ptr<GpuTexture> CardRenderer::backdropPicture() const { return takeBackdropPicture().texture; }

CardRenderer::BackdropPicture CardRenderer::takeBackdropPicture() const {
  BackdropPicture picture = overlayLock_.withLock([&] { return backdropPicture_; });
  if (!(picture.opacity > 0.002f)) picture.texture.reset();
  return picture;
}

void CardRenderer::drawBackdropPicture(GpuRenderEncoder& encoder, const BackdropPicture& picture,
                                       const std::shared_ptr<GpuBuffer>& buffer, CardUniforms* records, size_t record,
                                       float viewWidth, float viewHeight) {
  encoder.setPipeline(pipeline_);
  encoder.setVertexBuffer(quadBuffer_, 0, 0);
  encoder.setVertexBuffer(buffer, 0, 1);
  encoder.setFragmentSampler(isotropicSampler_, 0);
  const Float4 accent = accentColor();
  const float scale = 1;
  encoder.setFragmentBytes(&accent, sizeof accent, 0);
  encoder.setFragmentBytes(&scale, sizeof scale, 1);
  bindTexture(encoder, picture.texture);
  // One quad over the whole target (clip space, the texture's top row at the top), measured in
  // pixels so that the edge coverage is whole all round.
  CardUniforms& u = records[record];
  u = CardUniforms{};
  u.mvp = Float4x4::identity();
  u.mvp.columns[0].x = 2;
  u.mvp.columns[1].y = 2;
  u.size = {std::max(viewWidth, 1.0f), std::max(viewHeight, 1.0f)};
  u.alpha = picture.opacity;
  u.brightness = picture.brightness;
  u.hasTexture = 1;
  drawRecord(encoder, record);
}

}  // namespace quorvel
