#include "scene/render/CardPipeline.h"

#include <cstring>

namespace quorvel {
namespace {

// The unit quad "Quorvel unit quad": four vertices (position, texture coordinate) drawn as a
// triangle strip, split along the diagonal from bottom right to top left.
constexpr float kUnitQuad[16] = {-0.5f, -0.5f, 0, 1, 0.5f, -0.5f, 1, 1, -0.5f, 0.5f, 0, 0, 0.5f, 0.5f, 1, 0};

}  // namespace

std::optional<CardPipeline> CardPipeline::make(GpuDevice& device) {
  auto library = device.makeDefaultLibrary();
  if (!library) return std::nullopt;
  auto vertex = library->makeFunction("cardVertex");
  auto fragment = library->makeFunction("cardFragment");
  auto interior = library->makeFunction("cardInteriorFragment");
  auto plain = library->makeFunction("cardPlainFragment");
  if (!vertex || !fragment || !interior || !plain) return std::nullopt;
  CardPipeline made;
  GpuRenderPipelineDescriptor pipeline;
  pipeline.label = "Quorvel card";
  pipeline.vertexFunction = vertex;
  pipeline.fragmentFunction = fragment;
  pipeline.colorFormat = GpuPixelFormat::bgra8Unorm;
  pipeline.premultipliedBlending = true;
  made.blended = device.makeRenderPipeline(pipeline);
  if (!made.blended) return std::nullopt;
  pipeline.label = "Quorvel card shadow and ring";
  pipeline.fragmentFunction = plain;
  made.plain = device.makeRenderPipeline(pipeline);
  if (!made.plain) return std::nullopt;
  // Opaque card interiors replace what lies under them.
  pipeline.label = "Quorvel card interior";
  pipeline.fragmentFunction = interior;
  pipeline.premultipliedBlending = false;
  made.interior = device.makeRenderPipeline(pipeline);
  if (!made.interior) return std::nullopt;
  made.quad = device.makeBuffer(sizeof kUnitQuad, "Quorvel unit quad");
  if (!made.quad) return std::nullopt;
  std::memcpy(made.quad->contents(), kUnitQuad, sizeof kUnitQuad);
  made.fallbackTexture = device.makeTexture({1, 1, 1, false, "Quorvel fallback texture"});
  const uint8_t black[4] = {0, 0, 0, 255};
  if (!made.fallbackTexture || !made.fallbackTexture->replaceLevel(0, black, 4)) return std::nullopt;
  return made;
}

}  // namespace quorvel
