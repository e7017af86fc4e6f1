#pragma once

#include <memory>

#include "gpu/GpuDevice.h"

namespace quorvel {

// The card pipeline and what every draw through it binds: the pipeline (premultiplied blending
// into BGRA) on the card shaders "cardVertex" and "cardFragment", the pipeline without blending for
// opaque card interiors, the blended pipeline for shadows and selection rings alone (no texture
// sample), the unit quad (four vertices, position and texture coordinate, drawn as a
// triangle strip) and the 1x1 opaque black texture bound where a draw has none of its own. Every
// renderer of cards (the overlay's, the desktops overview's) draws through it with the binding
// layout of GpuRenderEncoder and one CardUniforms record per draw.
struct CardPipeline {
  std::shared_ptr<GpuRenderPipeline> blended;
  std::shared_ptr<GpuRenderPipeline> interior;
  std::shared_ptr<GpuRenderPipeline> plain;
  std::shared_ptr<GpuBuffer> quad;
  std::shared_ptr<GpuTexture> fallbackTexture;

  // None when the shader library, a shader function, a pipeline, the quad or the texture cannot
  // be made.
  static std::optional<CardPipeline> make(GpuDevice& device);
};

}  // namespace quorvel
