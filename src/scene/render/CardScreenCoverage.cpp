// Where a card falls on the screen, for the draw passes: whether its picture is magnified everywhere
// (so its first level alone can be sampled) and the rectangle of pixels its interior covers fully.
#include <algorithm>
#include <cmath>

#include "scene/render/CardRenderer.h"

namespace quorvel {

bool CardRenderer::magnifiesTexture(const Float4x4& mvp, Float2 texels, float viewWidth, float viewHeight) {
  if (!(texels.x > 0) || !(texels.y > 0) || !(viewWidth >= 1) || !(viewHeight >= 1)) return false;
  // The texels a pixel step moves (du/dx, du/dy, dv/dx, dv/dy) are, over a quad seen in
  // perspective, an affine function of the pixel times the square of the clip w there, and both
  // factors are largest at a corner. So each is bounded by its largest value at a corner over that
  // corner's w squared, times the largest w squared.
  const Float4& across = mvp.columns[0];  // clip space per quad unit across
  const Float4& up = mvp.columns[1];      // and up
  float steps[4][4];                      // per corner: du/dx, du/dy, dv/dx, dv/dy over w squared
  float widest = 0;
  int n = 0;
  for (const Float2 q : {Float2{-0.5f, -0.5f}, Float2{0.5f, -0.5f}, Float2{-0.5f, 0.5f}, Float2{0.5f, 0.5f}}) {
    const Float4 c = mvp * Float4{q.x, q.y, 0, 1};
    if (!(c.w > 1e-6f)) return false;
    // Pixels per quad unit: [a b; d e].
    const float sx = 0.5f * viewWidth / (c.w * c.w), sy = 0.5f * viewHeight / (c.w * c.w);
    const float a = sx * (across.x * c.w - c.x * across.w), b = sx * (up.x * c.w - c.x * up.w);
    const float d = sy * (across.y * c.w - c.y * across.w), e = sy * (up.y * c.w - c.y * up.w);
    const float det = a * e - b * d;
    if (!std::isfinite(det) || !(std::fabs(det) > 1e-12f)) return false;
    const float perW = 1 / (det * c.w * c.w);
    steps[n][0] = std::fabs(texels.x * e * perW);
    steps[n][1] = std::fabs(texels.x * b * perW);
    steps[n][2] = std::fabs(texels.y * d * perW);
    steps[n][3] = std::fabs(texels.y * a * perW);
    widest = std::max(widest, c.w);
    ++n;
  }
  float bound[4] = {0, 0, 0, 0};
  for (const auto& corner : steps)
    for (int i = 0; i < 4; ++i) bound[i] = std::max(bound[i], corner[i] * widest * widest);
  // Under a texel a pixel step both ways, whatever norm the driver takes of a step, with a margin
  // for its estimate of the level.
  const float stepX = bound[0] + bound[2], stepY = bound[1] + bound[3];
  return std::isfinite(stepX) && std::isfinite(stepY) && stepX <= 0.99f && stepY <= 0.99f;
}

std::optional<GpuRegion> CardRenderer::opaqueInterior(const Float4x4& mvp, Float2 size, float cornerRadius,
                                                      float viewWidth, float viewHeight) {
  if (!(size.x > 0) || !(size.y > 0) || !(cornerRadius > 0) || !(viewWidth >= 1) || !(viewHeight >= 1))
    return std::nullopt;
  // The card shader smooths its edge over one pixel as it measures pixels on the card (the sum of
  // a card coordinate's changes from one pixel to the next across and down), so a pixel at least
  // half a pixel inside the edge is covered fully. The interior lies a corner radius inside it:
  // the radius must span half a pixel wherever the card is, asked here of a whole pixel at each
  // corner (where a card seen at a slant has its fewest pixels per unit).
  const Float4& across = mvp.columns[0];  // clip space per quad unit (size.x card units) across
  const Float4& up = mvp.columns[1];      // and up (size.y card units)
  const Float2 inset{0.5f - cornerRadius / size.x, 0.5f - cornerRadius / size.y};
  if (!(inset.x > 0) || !(inset.y > 0)) return std::nullopt;
  Float2 corners[4];  // the interior's corners in target pixels, top row 0
  int n = 0;
  for (float cy : {-1.0f, 1.0f})
    for (float cx : {-1.0f, 1.0f}) {
      const Float4 c = mvp * Float4{0.5f * cx, 0.5f * cy, 0, 1};
      if (!(c.w > 1e-6f)) return std::nullopt;
      const float sx = 0.5f * viewWidth / (c.w * c.w), sy = 0.5f * viewHeight / (c.w * c.w);
      const float a = sx * (across.x * c.w - c.x * across.w) / size.x, b = sx * (up.x * c.w - c.x * up.w) / size.y;
      const float d = sy * (across.y * c.w - c.y * across.w) / size.x, e = sy * (up.y * c.w - c.y * up.w) / size.y;
      const float det = a * e - b * d;
      if (!std::isfinite(det) || !(std::fabs(det) > 1e-12f)) return std::nullopt;
      const float pixel = std::max(std::fabs(e) + std::fabs(b), std::fabs(d) + std::fabs(a)) / std::fabs(det);
      if (!(cornerRadius >= pixel)) return std::nullopt;
      const Float4 p = mvp * Float4{inset.x * cx, inset.y * cy, 0, 1};
      if (!(p.w > 1e-6f)) return std::nullopt;
      corners[n++] = {(p.x / p.w * 0.5f + 0.5f) * viewWidth, (0.5f - p.y / p.w * 0.5f) * viewHeight};
    }
  // The interior's corners go round as 0, 1, 3, 2. An axis-aligned rectangle inside it: between
  // the second smallest and second largest corner in each direction, checked against its edges.
  float xs[4], ys[4];
  for (int i = 0; i < 4; ++i) {
    xs[i] = corners[i].x;
    ys[i] = corners[i].y;
  }
  std::sort(xs, xs + 4);
  std::sort(ys, ys + 4);
  const float x0 = std::max(std::ceil(xs[1]), 0.0f), x1 = std::min(std::floor(xs[2]), viewWidth);
  const float y0 = std::max(std::ceil(ys[1]), 0.0f), y1 = std::min(std::floor(ys[2]), viewHeight);
  if (!(x1 - x0 >= 1) || !(y1 - y0 >= 1)) return std::nullopt;
  const Float2 ring[4] = {corners[0], corners[1], corners[3], corners[2]};
  float turn = 0;  // the ring's winding, from its signed area
  for (int i = 0; i < 4; ++i) turn += ring[i].x * ring[(i + 1) % 4].y - ring[(i + 1) % 4].x * ring[i].y;
  if (!(std::fabs(turn) > 0)) return std::nullopt;
  for (const Float2 q : {Float2{x0, y0}, Float2{x1, y0}, Float2{x0, y1}, Float2{x1, y1}})
    for (int i = 0; i < 4; ++i) {
      const Float2 from = ring[i], to = ring[(i + 1) % 4];
      const float side = (to.x - from.x) * (q.y - from.y) - (to.y - from.y) * (q.x - from.x);
      if (!(side * turn >= 0)) return std::nullopt;
    }
  return GpuRegion{static_cast<uint32_t>(x0), static_cast<uint32_t>(y0), static_cast<uint32_t>(x1 - x0),
                   static_cast<uint32_t>(y1 - y0)};
}

}  // namespace quorvel
