#version 450
#extension GL_GOOGLE_include_directive : require
#include "card_common.glsl"

layout(location = 0) in vec2 inPosition;
layout(location = 1) in vec2 inTexCoord;

layout(location = 0) out vec2 outTexCoord;
layout(location = 1) out vec2 outLocal;
layout(location = 2) out float outWorldY;
layout(location = 3) flat out uint outRecord;

void main() {
  CardUniforms u = records[draw.recordIndex];
  vec4 quad = vec4(inPosition, 0.0, 1.0);
  outTexCoord = inTexCoord;
  outLocal = inPosition * u.size;
  outWorldY = dot(u.modelY, quad);
  outRecord = draw.recordIndex;
  vec4 clip = u.mvp * quad;
  // The scene's clip space has y up; the target's first row is at the top.
  clip.y = -clip.y;
  gl_Position = clip;
}
