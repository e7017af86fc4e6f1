#version 450

// One direction of a separable Gaussian blur. The picture is sampled at texel centres (the
// sampler clamps to the edge, so the picture's border repeats outward); the weights are
// normalised over the taps taken.
layout(set = 0, binding = 1) uniform texture2D pictureTexture;
layout(set = 0, binding = 2) uniform sampler pictureSampler;

layout(push_constant) uniform BlurConstants {
  uvec4 unused;  // vertex bytes 2
  vec4 pass;     // fragment bytes 0: one texel along the blur's direction (x, y), sigma, radius
} blur;

layout(location = 0) in vec2 inTexCoord;
layout(location = 0) out vec4 outColor;

void main() {
  const vec2 texel = blur.pass.xy;
  const float sigma = max(blur.pass.z, 0.01);
  const int radius = int(blur.pass.w);
  const float k = -0.5 / (sigma * sigma);
  vec4 sum = vec4(0.0);
  float weights = 0.0;
  for (int i = -radius; i <= radius; ++i) {
    const float w = exp(k * float(i * i));
    sum += w * textureLod(sampler2D(pictureTexture, pictureSampler), inTexCoord + float(i) * texel, 0.0);
    weights += w;
  }
  outColor = sum / weights;
}
