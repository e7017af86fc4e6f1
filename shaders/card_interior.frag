#version 450
#extension GL_GOOGLE_include_directive : require
#include "card_common.glsl"

// The interior of an opaque card (its picture known opaque, or none, at full opacity), drawn with
// blending off: the colour the card shader gives there, at alpha 1. Written without a discard and
// drawn with every colour channel, so a CPU driver can drop whatever was drawn earlier under the
// tiles it covers.
layout(set = 0, binding = 1) uniform texture2D drawTexture;
layout(set = 0, binding = 2) uniform sampler drawSampler;

layout(location = 0) in vec2 inLocal;
layout(location = 1) in vec2 inPicture;
layout(location = 2) in float inFade;
layout(location = 3) flat in uint inKind;
layout(location = 4) flat in vec4 inShape;
// Brightness factor, opacity (1), has-texture.
layout(location = 5) flat in vec4 inTint;
// The window's part of the texture: origin, extent.
layout(location = 6) flat in vec4 inContent;

layout(location = 0) out vec4 outColor;

void main() {
  // The same sample as the card shader's (same coordinate, same implicit level).
  vec2 pictureAt = frontPicture(inPicture, gl_FrontFacing, inShape.w > 0.5);
  vec4 picture = texture(sampler2D(drawTexture, drawSampler), inContent.xy + pictureAt * inContent.zw);
  vec3 colour = kPlainCard;
  bool outsidePicture = any(lessThan(pictureAt, vec2(0.0))) || any(greaterThan(pictureAt, vec2(1.0)));
  if (inTint.z > 0.5 && !outsidePicture)
    colour = picture.rgb;
  // Only card pictures come here. The other values of the card vertex stage are read in this
  // branch, never taken, so that every value it hands on is consumed (the validation layer reports
  // the ones left unread).
  if (inKind != kCardKindPicture)
    colour = vec3(inFade, inLocal.x + inShape.x, inLocal.y + inShape.y);
  outColor = vec4(colour * inTint.x, 1.0);
}
