#version 450

// A quad over the whole target: positions in clip space, texture coordinates with (0, 0) at the
// target's first row and column.
layout(location = 0) in vec2 inPosition;
layout(location = 1) in vec2 inTexCoord;

layout(location = 0) out vec2 outTexCoord;

void main() {
  outTexCoord = inTexCoord;
  gl_Position = vec4(inPosition, 0.0, 1.0);
}
