#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <ostream>
#include <vector>

#include "gpu/GpuTypes.h"
#include "platform/PixelBuffer.h"

namespace quorvel::test {

// The preparation of a picture done plainly on the CPU, the reference the GPU's result is held
// to: four float channels per pixel in the picture's byte order.
struct FloatPicture {
  uint32_t width = 0, height = 0;
  std::vector<float> values;  // width × height × 4
  float& at(uint32_t x, uint32_t y, int c) { return values[(static_cast<size_t>(y) * width + x) * 4 + c]; }
  float at(uint32_t x, uint32_t y, int c) const { return values[(static_cast<size_t>(y) * width + x) * 4 + c]; }
};

// The loops below index plainly: the tests run them unoptimised, under the sanitizers.
inline FloatPicture fromBuffer(const PixelBuffer& b) {
  const auto w = static_cast<uint32_t>(b.width), h = static_cast<uint32_t>(b.height);
  FloatPicture p{w, h, std::vector<float>(static_cast<size_t>(w) * h * 4)};
  float* out = p.values.data();
  for (int y = 0; y < b.height; ++y) {
    const uint8_t* row = b.row(y);
    for (size_t i = 0; i < static_cast<size_t>(b.width) * 4; ++i) *out++ = row[i];
  }
  return p;
}

// Half size of a picture with even sides: the mean of each 2 × 2 block.
inline FloatPicture halved(const FloatPicture& in) {
  const size_t w = in.width / 2, h = in.height / 2, stride = static_cast<size_t>(in.width) * 4;
  FloatPicture out{static_cast<uint32_t>(w), static_cast<uint32_t>(h), std::vector<float>(w * h * 4)};
  float* o = out.values.data();
  for (size_t y = 0; y < h; ++y) {
    const float* top = in.values.data() + 2 * y * stride;
    const float* bottom = top + stride;
    for (size_t x = 0; x < w; ++x)
      for (size_t c = 0; c < 4; ++c)
        *o++ = (top[8 * x + c] + top[8 * x + 4 + c] + bottom[8 * x + c] + bottom[8 * x + 4 + c]) / 4;
  }
  return out;
}

// A Gaussian blur of `sigma` pixels (taps out to 3 sigma, weights normalised, the border repeated
// outward), worked out only at every `step`-th column and row (from 0, and the last ones): the
// picture those points hold; the others stay 0. `step` keeps the reference quick on large sigmas.
inline FloatPicture gaussian(const FloatPicture& in, double sigma, uint32_t step = 1) {
  const int radius = static_cast<int>(std::ceil(3 * sigma));
  std::vector<float> weights(2 * radius + 1);
  double sum = 0;
  for (int i = -radius; i <= radius; ++i)
    sum += weights[i + radius] = static_cast<float>(std::exp(-0.5 * i * i / (sigma * sigma)));
  for (float& w : weights) w = static_cast<float>(w / sum);
  const int w = static_cast<int>(in.width), h = static_cast<int>(in.height);
  auto sampled = [&](int side) {
    std::vector<int> at;
    for (int i = 0; i < side; i += static_cast<int>(step)) at.push_back(i);
    if (at.back() != side - 1) at.push_back(side - 1);
    return at;
  };
  const std::vector<int> xs = sampled(w), ys = sampled(h);
  // Rows first, at the sampled columns only, into a picture of those columns (row-major).
  const size_t n = xs.size();
  std::vector<float> across(static_cast<size_t>(h) * n * 4);
  std::vector<int> clamped(2 * radius + 1);
  const float* pw = weights.data();
  for (size_t k = 0; k < n; ++k) {
    for (int i = -radius; i <= radius; ++i) clamped[i + radius] = std::clamp(xs[k] + i, 0, w - 1) * 4;
    const int* pc = clamped.data();
    for (int y = 0; y < h; ++y) {
      const float* row = in.values.data() + static_cast<size_t>(y) * w * 4;
      float a0 = 0, a1 = 0, a2 = 0, a3 = 0;
      for (int t = 0; t <= 2 * radius; ++t) {
        const float* p = row + pc[t];
        a0 += pw[t] * p[0], a1 += pw[t] * p[1], a2 += pw[t] * p[2], a3 += pw[t] * p[3];
      }
      float* o = &across[(static_cast<size_t>(y) * n + k) * 4];
      o[0] = a0, o[1] = a1, o[2] = a2, o[3] = a3;
    }
  }
  FloatPicture out{in.width, in.height, std::vector<float>(in.values.size())};
  for (int y : ys)
    for (size_t k = 0; k < n; ++k)
      for (int i = -radius; i <= radius; ++i) {
        const float* p = &across[(static_cast<size_t>(std::clamp(y + i, 0, h - 1)) * n + k) * 4];
        for (int c = 0; c < 4; ++c) out.at(xs[k], y, c) += weights[i + radius] * p[c];
      }
  return out;
}

struct Difference {
  double largest = 0, mean = 0;
  uint32_t x = 0, y = 0;  // where the largest is
};
inline std::ostream& operator<<(std::ostream& out, const Difference& d) {
  return out << "largest " << d.largest << " at (" << d.x << ", " << d.y << "), mean " << d.mean;
}
// The difference at every `step`-th column and row (as `gaussian` works them out), leaving out
// the points less than `margin` pixels from an edge.
inline Difference compare(const FloatPicture& reference, const GpuPixels& pixels, uint32_t step = 1,
                          uint32_t margin = 0) {
  Difference d;
  if (pixels.width != reference.width || pixels.height != reference.height) return {255, 255};
  size_t count = 0;
  auto next = [&](uint32_t i, uint32_t side) { return i + 1 == side ? side : std::min(i + step, side - 1); };
  for (uint32_t y = 0; y < pixels.height; y = next(y, pixels.height))
    for (uint32_t x = 0; x < pixels.width; x = next(x, pixels.width)) {
      if (x < margin || y < margin || x + margin >= pixels.width || y + margin >= pixels.height) continue;
      ++count;
      const GpuPixels::Texel t = pixels.at(x, y);
      const uint8_t got[4] = {t.b, t.g, t.r, t.a};
      for (int c = 0; c < 4; ++c) {
        const double e = std::abs(got[c] - reference.at(x, y, c));
        if (e > d.largest) d.largest = e, d.x = x, d.y = y;
        d.mean += e;
      }
    }
  d.mean /= static_cast<double>(count) * 4;
  return d;
}

// A test picture with edges of every kind: opaque coloured stripes, a checkerboard of 2-pixel
// squares and a diagonal gradient.
inline PixelBuffer testPattern(uint32_t width, uint32_t height) {
  std::vector<uint8_t> bytes(static_cast<size_t>(width) * height * 4);
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x) {
      uint8_t* p = &bytes[(static_cast<size_t>(y) * width + x) * 4];
      if (x < width / 3) {
        const bool band = (y / 37) % 2 == 0;
        p[0] = band ? 230 : 20, p[1] = band ? 40 : 200, p[2] = band ? 10 : 250;
      } else if (x < 2 * width / 3) {
        const uint8_t v = ((x / 2) + (y / 2)) % 2 ? 255 : 0;
        p[0] = p[1] = p[2] = v;
      } else {
        p[0] = static_cast<uint8_t>((x * 255) / width), p[1] = static_cast<uint8_t>((y * 255) / height), p[2] = 128;
      }
      p[3] = 255;
    }
  return PixelBuffer::adopting(static_cast<int>(width), static_cast<int>(height), std::move(bytes));
}

}  // namespace quorvel::test
