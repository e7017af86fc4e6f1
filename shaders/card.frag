#version 450
#extension GL_GOOGLE_include_directive : require
#include "card_common.glsl"

layout(set = 0, binding = 1) uniform texture2D drawTexture;
layout(set = 0, binding = 2) uniform sampler drawSampler;

layout(location = 0) in vec2 inTexCoord;
layout(location = 1) in vec2 inLocal;
layout(location = 2) in float inWorldY;
layout(location = 3) flat in uint inRecord;

layout(location = 0) out vec4 outColor;

// Signed distance from a rounded rectangle centred on the origin (negative inside).
float roundedBox(vec2 p, vec2 halfSize, float radius) {
  float r = min(radius, min(halfSize.x, halfSize.y));
  vec2 q = abs(p) - halfSize + r;
  return length(max(q, 0.0)) + min(max(q.x, q.y), 0.0) - r;
}

// The size of one pixel on the quad, in the quad's own units. Taken once, in uniform control flow,
// from a varying that is linear across the quad, so it is well defined on every fragment (also on
// the diagonal where the strip's two triangles meet).
float pixelSize;

// How the quad's texture coordinate changes from one pixel to the next, taken in uniform control
// flow for the same reason. The picture is sampled with these gradients: a driver that runs the
// branches below only for the pixels inside the triangle (the CPU driver does) has no neighbours to
// take them from there, and along the triangles' edges would pick a far too coarse mip level.
vec2 texDx;
vec2 texDy;

// Coverage of the inside of an edge at distance d, smoothed over about one pixel.
float coverage(float d) {
  return clamp(0.5 - d / pixelSize, 0.0, 1.0);
}

const vec3 kPlainCard = vec3(0.16, 0.17, 0.19);

vec4 cardColor(CardUniforms u) {
  float inside = coverage(roundedBox(inLocal, u.size * 0.5, u.cornerRadius));
  // The picture keeps its aspect inside the card (pictureScale), and only the window's part of the
  // texture (contentOrigin, contentExtent) is shown. Sampled with the gradients taken in main(),
  // so that the texture's level of detail is well defined everywhere.
  vec2 scale = max(u.pictureScale, vec2(1e-4));
  vec2 p = (inTexCoord - 0.5) / scale + 0.5;
  vec2 perTexel = u.contentExtent / scale;
  vec4 picture = textureGrad(sampler2D(drawTexture, drawSampler), u.contentOrigin + clamp(p, 0.0, 1.0) * u.contentExtent,
                             texDx * perTexel, texDy * perTexel);
  bool outsidePicture = any(lessThan(p, vec2(0.0))) || any(greaterThan(p, vec2(1.0)));
  vec4 colour = (u.hasTexture > 0.5 && !outsidePicture) ? picture : vec4(kPlainCard, 1.0);
  colour.rgb *= u.brightness * (1.0 + 0.06 * clamp(u.highlight, 0.0, 1.0));
  return colour * inside * u.alpha;
}

void main() {
  vec2 step = fwidth(inLocal);
  pixelSize = max(max(step.x, step.y), 1e-6);
  texDx = dFdx(inTexCoord);
  texDy = dFdy(inTexCoord);
  CardUniforms u = records[inRecord];
  if (u.isShadow > 0.5) {
    // A soft dark halo around the card: `brightness` carries the spread.
    float spread = max(u.brightness, 1e-4);
    float d = roundedBox(inLocal, u.size * 0.5 - spread, u.cornerRadius);
    float falloff = 1.0 - smoothstep(-0.25 * spread, spread, d);
    outColor = vec4(0.0, 0.0, 0.0, 0.45 * falloff * falloff * u.alpha);
  } else if (u.isOutline > 0.5) {
    // The selection ring: a band of the accent colour just outside the card; `brightness` carries
    // the padding between the card's edge and the ring's outer edge.
    float pad = max(u.brightness, 1e-4);
    float outer = roundedBox(inLocal, u.size * 0.5, u.cornerRadius);
    float band = coverage(outer) * (1.0 - coverage(outer + 0.55 * pad));
    float strength = clamp(u.highlight, 0.0, 1.0) * u.alpha * band;
    outColor = vec4(draw.accent.rgb, 1.0) * strength;
  } else if (u.isReflection > 0.5) {
    float height = inWorldY - u.floorY;
    float fade = clamp(1.0 - height / max(u.reflectionFade, 1e-4), 0.0, 1.0);
    outColor = cardColor(u) * (u.reflectionStrength * fade);
  } else {
    outColor = cardColor(u);
  }
}
