#pragma once

#include <algorithm>
#include <cmath>

namespace quorvel {

// Small vector and matrix values of the card scene (world units, radians). Matrices are stored by
// column (columns[c][r]) and multiply column vectors, as the GPU shaders read them. Pure values:
// any thread.

struct Float2 {
  float x = 0, y = 0;
  bool operator==(const Float2&) const = default;
  Float2 operator+(Float2 o) const { return {x + o.x, y + o.y}; }
  Float2 operator-(Float2 o) const { return {x - o.x, y - o.y}; }
  Float2 operator*(float s) const { return {x * s, y * s}; }
  Float2 operator/(float s) const { return {x / s, y / s}; }
};

struct Float3 {
  float x = 0, y = 0, z = 0;
  bool operator==(const Float3&) const = default;
  Float3 operator+(Float3 o) const { return {x + o.x, y + o.y, z + o.z}; }
  Float3 operator-(Float3 o) const { return {x - o.x, y - o.y, z - o.z}; }
  Float3 operator-() const { return {-x, -y, -z}; }
  Float3 operator*(float s) const { return {x * s, y * s, z * s}; }
  Float3& operator+=(Float3 o) { return *this = *this + o; }
  Float3& operator-=(Float3 o) { return *this = *this - o; }
};
inline Float3 operator*(float s, Float3 v) { return v * s; }

struct Float4 {
  float x = 0, y = 0, z = 0, w = 0;
  bool operator==(const Float4&) const = default;
  float& operator[](int i) { return i == 0 ? x : i == 1 ? y : i == 2 ? z : w; }
  float operator[](int i) const { return i == 0 ? x : i == 1 ? y : i == 2 ? z : w; }
};

inline float dot(Float3 a, Float3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline Float3 cross(Float3 a, Float3 b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline float length(Float3 v) { return std::sqrt(dot(v, v)); }
inline float length(Float2 v) { return std::sqrt(v.x * v.x + v.y * v.y); }
// The unit vector along v; the zero vector when v is not longer than 1e-6 (never NaN).
inline Float3 normalizeOrZero(Float3 v) {
  const float len = length(v);
  return len > 1e-6f ? v * (1.0f / len) : Float3{};
}

struct Float4x4 {
  Float4 columns[4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};

  bool operator==(const Float4x4&) const = default;
  static Float4x4 identity() { return {}; }
  Float4 operator*(Float4 v) const {
    Float4 r;
    for (int row = 0; row < 4; ++row) {
      r[row] = columns[0][row] * v.x + columns[1][row] * v.y + columns[2][row] * v.z + columns[3][row] * v.w;
    }
    return r;
  }
  Float4x4 operator*(const Float4x4& o) const {
    Float4x4 r;
    for (int c = 0; c < 4; ++c) r.columns[c] = *this * o.columns[c];
    return r;
  }
};

// Scalar helpers shared by the scene.
namespace scene {

inline constexpr float kTan25 = 0.4663076f;  // tan 25°: half the 50° vertical field of view

// u ↦ u²(3 − 2u) of u clamped to [0, 1].
inline float smoothstep(float u) {
  u = std::clamp(u, 0.0f, 1.0f);
  return u * u * (3 - 2 * u);
}
inline double smoothstep(double u) {
  u = std::clamp(u, 0.0, 1.0);
  return u * u * (3 - 2 * u);
}
// x rounded to the nearest integer, halves away from zero (std::round); 0 for a value that is not
// finite or lies beyond the int range, so an index is always defined.
inline int nearest(double x) {
  if (!std::isfinite(x) || std::fabs(x) > 2e9) return 0;
  return static_cast<int>(std::round(x));
}
// i wrapped into [0, n); 0 when n < 1.
inline int wrapIndex(int i, int n) {
  if (n < 1) return 0;
  return ((i % n) + n) % n;
}
// A finite value, or `fallback`.
inline double finiteOr(double v, double fallback) { return std::isfinite(v) ? v : fallback; }
inline float finiteOr(float v, float fallback) { return std::isfinite(v) ? v : fallback; }

}  // namespace scene
}  // namespace quorvel
