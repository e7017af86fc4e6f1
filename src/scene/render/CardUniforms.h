#pragma once

#include <cstddef>

#include "scene/SceneMath.h"

namespace quorvel {

// The per-draw record the card shaders read (shaders/card_common.glsl): one 160-byte record per
// draw in the frame's uniform buffer. A GPU-visible format: the fields, their offsets and the stride
// are fixed. Every flag is a float holding 0 or 1.
struct CardUniforms {
  Float4x4 mvp;                    // projection x view x model of the quad
  Float2 size;                     // quad width and height in scene units
  float cornerRadius = 0;          // scene units
  float alpha = 1;                 // opacity of the draw
  float brightness = 1;            // the ring carries its padding here, the shadow its spread
  float hasTexture = 0;            // the bound texture is the draw's own
  float isReflection = 0;
  float floorY = 0;                // floor height of the reflection pass
  Float4 modelY;                   // second row of the model matrix (the reflection's floor fade)
  float reflectionStrength = 0;    // peak opacity of a reflection
  float reflectionFade = 1;        // fade length of a reflection
  float highlight = 0;             // selection emphasis
  float isOutline = 0;             // the selection ring
  float isShadow = 0;
  // Above 0: the texture is a text plate's coverage (see shaders/card.frag), drawn as white text
  // over a black plate of this opacity.
  float plateOpacity = 0;
  Float2 contentExtent{1, 1};      // size of the window's content inside the texture
  Float2 contentOrigin{0, 0};      // its origin
  Float2 pictureScale{1, 1};       // aspect correction of the picture

  static constexpr size_t kStride = 160;
};

static_assert(sizeof(CardUniforms) == CardUniforms::kStride);
static_assert(offsetof(CardUniforms, size) == 64);
static_assert(offsetof(CardUniforms, cornerRadius) == 72);
static_assert(offsetof(CardUniforms, alpha) == 76);
static_assert(offsetof(CardUniforms, brightness) == 80);
static_assert(offsetof(CardUniforms, hasTexture) == 84);
static_assert(offsetof(CardUniforms, isReflection) == 88);
static_assert(offsetof(CardUniforms, floorY) == 92);
static_assert(offsetof(CardUniforms, modelY) == 96);
static_assert(offsetof(CardUniforms, reflectionStrength) == 112);
static_assert(offsetof(CardUniforms, reflectionFade) == 116);
static_assert(offsetof(CardUniforms, highlight) == 120);
static_assert(offsetof(CardUniforms, isOutline) == 124);
static_assert(offsetof(CardUniforms, isShadow) == 128);
static_assert(offsetof(CardUniforms, plateOpacity) == 132);
static_assert(offsetof(CardUniforms, contentExtent) == 136);
static_assert(offsetof(CardUniforms, contentOrigin) == 144);
static_assert(offsetof(CardUniforms, pictureScale) == 152);

}  // namespace quorvel
