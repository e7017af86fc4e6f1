#version 450
#extension GL_GOOGLE_include_directive : require
#include "card_common.glsl"

layout(location = 0) in vec2 inPosition;
layout(location = 1) in vec2 inTexCoord;

layout(location = 0) out vec2 outLocal;
layout(location = 1) out vec2 outPicture;
layout(location = 2) out float outFade;
layout(location = 3) flat out uint outKind;
layout(location = 4) flat out vec4 outShape;
layout(location = 5) flat out vec4 outTint;
layout(location = 6) flat out vec4 outContent;

// Everything the fragment shader needs of the draw's record is worked out here, once a vertex, and
// handed on as flat (per draw) or linear values: the CPU driver reads a storage buffer per pixel at
// a high price, and the record is the same for every pixel of the quad.
void main() {
  CardUniforms u = records[draw.recordIndex];
  vec2 position = inPosition;
  vec2 texCoord = inTexCoord;
  if (u.isReflection > 0.5 && u.modelY.y != 0.0) {
    // The reflection is clear from where the floor fade reaches zero on: the quad is cut back to
    // that line (on its whole width), so the pixels beyond it, which would draw nothing, are not
    // shaded. Every value below is linear across the quad, so the pixels kept see the same values.
    float cut = (u.reflectionFade + u.floorY - u.modelY.w + 0.5 * abs(u.modelY.x)) / u.modelY.y;
    cut = clamp(cut, -0.5, 0.5);
    float y = u.modelY.y > 0.0 ? min(position.y, cut) : max(position.y, cut);
    texCoord.y -= y - position.y;  // the unit quad's texture y runs against its position's
    position.y = y;
  }
  vec4 quad = vec4(position, 0.0, 1.0);
  outLocal = position * u.size;

  // The picture keeps its aspect inside the card (pictureScale): the quad's texture coordinate in
  // the picture's own 0...1 square, which the fragment clamps and maps onto the window's part of
  // the texture (contentOrigin, contentExtent).
  vec2 scale = max(u.pictureScale, vec2(1e-4));
  outPicture = (texCoord - 0.5) / scale + 0.5;
  outContent = vec4(u.contentOrigin, u.contentExtent);

  // The reflection's fade from the floor up, before clamping (linear across the quad); every other
  // draw gets a value that clamps to one.
  if (u.isReflection > 0.5) {
    float height = dot(u.modelY, quad) - u.floorY;
    outFade = 1.0 - height / max(u.reflectionFade, 1e-4);
  } else {
    outFade = 2.0;
  }

  // The rounded box the fragment measures against (half size, corner radius) and the draw's tint.
  vec2 halfSize = u.size * 0.5;
  if (u.isShadow > 0.5) {
    // A soft dark halo around the card: `brightness` carries the spread.
    float spread = max(u.brightness, 1e-4);
    halfSize -= spread;
    outKind = kCardKindShadow;
    outTint = vec4(spread, u.alpha, 0.0, 0.0);
  } else if (u.isOutline > 0.5) {
    // The selection ring: `brightness` carries the padding between the card's edge and the ring's
    // outer edge.
    outKind = kCardKindOutline;
    outTint = vec4(max(u.brightness, 1e-4), clamp(u.highlight, 0.0, 1.0) * u.alpha, 0.0, 0.0);
  } else {
    outKind = kCardKindPicture;
    float strength = u.isReflection > 0.5 ? u.reflectionStrength : 1.0;
    outTint = vec4(u.brightness * (1.0 + 0.06 * clamp(u.highlight, 0.0, 1.0)), u.alpha * strength, u.hasTexture,
                   u.plateOpacity);
  }
  // w: a floor reflection, whose mirror turns the quad's winding round.
  outShape = vec4(halfSize, min(u.cornerRadius, min(halfSize.x, halfSize.y)), u.isReflection > 0.5 ? 1.0 : 0.0);

  vec4 clip = u.mvp * quad;
  // The scene's clip space has y up; the target's first row is at the top.
  clip.y = -clip.y;
  gl_Position = clip;
}
