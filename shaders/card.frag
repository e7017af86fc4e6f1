#version 450
#extension GL_GOOGLE_include_directive : require
#include "card_common.glsl"

layout(set = 0, binding = 1) uniform texture2D drawTexture;
layout(set = 0, binding = 2) uniform sampler drawSampler;

layout(location = 0) in vec2 inLocal;
layout(location = 1) in vec2 inPicture;
layout(location = 2) in float inFade;
layout(location = 3) flat in uint inKind;
// Half size and corner radius of the rounded box the draw measures against.
layout(location = 4) flat in vec4 inShape;
// Brightness factor, opacity, has-texture, plate opacity (above 0: a text plate).
layout(location = 5) flat in vec4 inTint;
// The window's part of the texture: origin, extent.
layout(location = 6) flat in vec4 inContent;

layout(location = 0) out vec4 outColor;

// Pictures, marks and plates. The per-pixel work is kept small and branch-light: the CPU driver runs
// every branch for a block of pixels. (Shadows and rings draw with the plain shader.)
void main() {
  // The size of one pixel on the quad and the picture's sample are taken in uniform control flow,
  // from values linear across the quad, so their derivatives are well defined on every fragment
  // (also on the diagonal where the strip's two triangles meet): a driver that runs a branch only
  // for the pixels inside the triangle (the CPU driver does) has no neighbours to take them from
  // there, and along the triangles' edges would pick a far too coarse mip level.
  vec2 step = fwidth(inLocal);
  float pixelSize = max(max(step.x, step.y), 1e-6);

  float d = roundedBox(inLocal, inShape.xy, inShape.z);
  // Coverage of the inside of the edge, smoothed over about one pixel.
  float inside = clamp(0.5 - d / pixelSize, 0.0, 1.0);

  // Sampled at the unclamped coordinate: it is only used where that lies inside the picture.
  vec2 pictureAt = frontPicture(inPicture, gl_FrontFacing, inShape.w > 0.5);
  vec4 picture = texture(sampler2D(drawTexture, drawSampler), inContent.xy + pictureAt * inContent.zw);
  vec4 colour = vec4(kPlainCard, 1.0);
  bool outsidePicture = any(lessThan(pictureAt, vec2(0.0))) || any(greaterThan(pictureAt, vec2(1.0)));
  if (inTint.z > 0.5 && !outsidePicture)
    colour = picture;
  if (inTint.w > 0.0) {
    // A text plate's coverage c in one channel: below one half the plate's own edge (its coverage
    // 2c), from one half up text over the whole plate (the text's coverage 2c - 1). Both halves
    // are linear in c, so filtering between texels of one half gives the colours it would
    // between the colours themselves.
    float c = picture.r;
    float text = clamp(2.0 * c - 1.0, 0.0, 1.0);
    float plate = inTint.w * clamp(2.0 * c, 0.0, 1.0);
    colour = vec4(vec3(text), text + plate * (1.0 - text));
  }
  colour.rgb *= inTint.x;
  outColor = colour * (inside * inTint.y * clamp(inFade, 0.0, 1.0));
  // The kind is read so that every value the vertex stage hands on is consumed.
  if (inKind != kCardKindPicture) outColor = vec4(0.0);
}
