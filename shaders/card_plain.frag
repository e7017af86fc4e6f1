#version 450
#extension GL_GOOGLE_include_directive : require
#include "card_common.glsl"

// Shadows and selection rings (outlines): their colours from the rounded box alone, without the card
// shader's texture sample, which a CPU driver pays for on every pixel whether a draw uses it or not.
layout(location = 0) in vec2 inLocal;
layout(location = 1) in vec2 inPicture;
layout(location = 2) in float inFade;
layout(location = 3) flat in uint inKind;
layout(location = 4) flat in vec4 inShape;
// Shadow: spread, opacity. Ring: padding, strength.
layout(location = 5) flat in vec4 inTint;
layout(location = 6) flat in vec4 inContent;

layout(location = 0) out vec4 outColor;

void main() {
  vec2 step = fwidth(inLocal);
  float pixelSize = max(max(step.x, step.y), 1e-6);
  float d = roundedBox(inLocal, inShape.xy, inShape.z);
  float inside = clamp(0.5 - d / pixelSize, 0.0, 1.0);
  if (inKind == kCardKindShadow) {
    float spread = inTint.x;
    float falloff = 1.0 - smoothstep(-0.25 * spread, spread, d);
    outColor = vec4(0.0, 0.0, 0.0, 0.45 * falloff * falloff * inTint.y);
  } else if (inKind == kCardKindOutline) {
    float pad = inTint.x;
    float band = inside * (1.0 - clamp(0.5 - (d + 0.55 * pad) / pixelSize, 0.0, 1.0));
    outColor = vec4(draw.accent.rgb, 1.0) * (inTint.y * band);
  } else {
    // Never drawn here. It reads the other values of the card vertex stage, so that every value it
    // hands on is consumed (the validation layer reports the ones left unread).
    outColor = vec4(inPicture, inFade, 0.0) + inContent + vec4(inShape.w);
  }
}
