#include "pictures/BackdropBlur.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace quorvel {

namespace {

// Widths of three box blurs whose succession has the variance of a Gaussian of `sigma`.
std::array<int, 3> boxesFor(double sigma) {
  const double ideal = std::sqrt(12 * sigma * sigma / 3 + 1);
  int lower = static_cast<int>(std::floor(ideal));
  if (lower % 2 == 0) --lower;
  const int upper = lower + 2;
  const double m = std::round((12 * sigma * sigma - 3.0 * lower * lower - 4.0 * 3 * lower - 3 * 3) / (-4.0 * lower - 4));
  std::array<int, 3> sizes{};
  for (int i = 0; i < 3; ++i) sizes[static_cast<size_t>(i)] = i < m ? lower : upper;
  return sizes;
}

// Pixels as four floats each (red, green, blue, alpha), row by row.
using Plane = std::vector<float>;

void channels(const DesktopStill& image, Plane& out) {
  out.resize(image.pixels.size() * 4);
  size_t k = 0;
  for (const uint32_t pixel : image.pixels) {
    out[k++] = static_cast<float>((pixel >> 16) & 0xff);
    out[k++] = static_cast<float>((pixel >> 8) & 0xff);
    out[k++] = static_cast<float>(pixel & 0xff);
    out[k++] = static_cast<float>(pixel >> 24);
  }
}

DesktopStill imageOf(const Plane& data, int width, int height) {
  DesktopStill out{width, height, std::vector<uint32_t>(static_cast<size_t>(width) * static_cast<size_t>(height))};
  auto byte = [](float v) { return static_cast<uint32_t>(std::clamp(v + 0.5f, 0.0f, 255.0f)); };
  size_t k = 0;
  for (uint32_t& pixel : out.pixels) {
    pixel = byte(data[k + 3]) << 24 | byte(data[k]) << 16 | byte(data[k + 1]) << 8 | byte(data[k + 2]);
    k += 4;
  }
  return out;
}

// `height` rows of `width` pixels become `width` rows of `height`.
void transpose(const Plane& in, Plane& out, int width, int height) {
  out.resize(in.size());
  constexpr int kTile = 32;
  for (int y0 = 0; y0 < height; y0 += kTile) {
    for (int x0 = 0; x0 < width; x0 += kTile) {
      for (int y = y0; y < std::min(y0 + kTile, height); ++y) {
        for (int x = x0; x < std::min(x0 + kTile, width); ++x) {
          const size_t from = (static_cast<size_t>(y) * width + x) * 4;
          const size_t to = (static_cast<size_t>(x) * height + y) * 4;
          for (int c = 0; c < 4; ++c) out[to + c] = in[from + c];
        }
      }
    }
  }
}

// Blurs every row with `blurRow`, which works on the row with `pad` repeated edge pixels on each
// side (so that the row's ends see the edge the Gaussian sees) and leaves the result in place.
template <class RowBlur>
void blurRows(Plane& plane, int width, int height, int pad, RowBlur blurRow) {
  const size_t padded = static_cast<size_t>(width + 2 * pad) * 4;
  thread_local Plane row, scratch;
  row.resize(padded);
  scratch.resize(padded);
  for (int y = 0; y < height; ++y) {
    float* line = plane.data() + static_cast<size_t>(y) * width * 4;
    for (int i = 0; i < pad; ++i) {
      std::copy_n(line, 4, row.data() + static_cast<size_t>(i) * 4);
      std::copy_n(line + static_cast<size_t>(width - 1) * 4, 4, row.data() + static_cast<size_t>(pad + width + i) * 4);
    }
    std::copy_n(line, static_cast<size_t>(width) * 4, row.data() + static_cast<size_t>(pad) * 4);
    blurRow(row, scratch, width + 2 * pad);
    std::copy_n(row.data() + static_cast<size_t>(pad) * 4, static_cast<size_t>(width) * 4, line);
  }
}

// One running box of half width r from `in` into `out`, for the pixels lo to hi of a row; reads
// pixels lo − r to hi + r, which the caller keeps inside the row.
void boxRow(const Plane& in, Plane& out, int lo, int hi, int r) {
  const float scale = 1.0f / static_cast<float>(2 * r + 1);
  float sum[4] = {0, 0, 0, 0};
  for (const float* p = in.data() + static_cast<size_t>(lo - r) * 4; p <= in.data() + static_cast<size_t>(lo + r) * 4; p += 4) {
    for (int c = 0; c < 4; ++c) sum[c] += p[c];
  }
  float* o = out.data() + static_cast<size_t>(lo) * 4;
  const float* add = in.data() + static_cast<size_t>(lo + r + 1) * 4;
  const float* drop = in.data() + static_cast<size_t>(lo - r) * 4;
  for (int i = lo; i <= hi; ++i, o += 4, add += 4, drop += 4) {
    for (int c = 0; c < 4; ++c) o[c] = sum[c] * scale;
    if (i == hi) break;  // the next sum would read past hi + r
    for (int c = 0; c < 4; ++c) sum[c] += add[c] - drop[c];
  }
}

std::vector<float> gaussianKernel(double radius) {
  const int reach = static_cast<int>(std::ceil(3 * radius));
  std::vector<float> kernel(static_cast<size_t>(2 * reach + 1));
  float total = 0;
  for (int i = -reach; i <= reach; ++i) {
    total += kernel[static_cast<size_t>(i + reach)] = static_cast<float>(std::exp(-(i * i) / (2 * radius * radius)));
  }
  for (float& k : kernel) k /= total;
  return kernel;
}

// Both directions: the rows, then the rows of the transposed picture.
template <class RowBlur>
DesktopStill blurBothWays(const DesktopStill& image, int pad, RowBlur blurRow) {
  const int w = image.width, h = image.height;
  // Kept between calls: a slider tick reuses the memory of the last one.
  thread_local Plane plane, turned;
  channels(image, plane);
  blurRows(plane, w, h, pad, blurRow);
  transpose(plane, turned, w, h);
  blurRows(turned, h, w, pad, blurRow);
  transpose(turned, plane, h, w);
  return imageOf(plane, w, h);
}

}  // namespace

double BackdropBlur::radiusFor(double blurAmount) {
  if (!(blurAmount > 0)) return 0;
  return std::min(blurAmount, 1.0) * 26;
}

DesktopStill BackdropBlur::blurred(const DesktopStill& source, double radius) {
  if (!(radius > 0.01) || !source.isWhole()) return source;
  if (radius < kExactBelow) {
    // Small radii take few taps, and three boxes would be too coarse for them.
    const std::vector<float> kernel = gaussianKernel(radius);
    const int reach = static_cast<int>(kernel.size() / 2);
    return blurBothWays(source, reach, [&kernel, reach](Plane& row, Plane& out, int n) {
      for (int i = reach; i < n - reach; ++i) {
        float sum[4] = {0, 0, 0, 0};
        const float* from = row.data() + static_cast<size_t>(i - reach) * 4;
        for (size_t t = 0; t < kernel.size(); ++t, from += 4) {
          for (int c = 0; c < 4; ++c) sum[c] += kernel[t] * from[c];
        }
        std::copy_n(sum, 4, out.data() + static_cast<size_t>(i) * 4);
      }
      std::copy(out.begin() + reach * 4, out.begin() + static_cast<std::ptrdiff_t>(n - reach) * 4, row.begin() + reach * 4);
    });
  }
  const std::array<int, 3> boxes = boxesFor(radius);
  // Margins as wide as the boxes reach together.
  const int pad = (boxes[0] - 1) / 2 + (boxes[1] - 1) / 2 + (boxes[2] - 1) / 2;
  return blurBothWays(source, pad, [&boxes, pad](Plane& row, Plane& out, int n) {
    // Each box leaves a margin as wide as its reach unfilled; the three margins make up the pad.
    const int r0 = (boxes[0] - 1) / 2, r1 = (boxes[1] - 1) / 2, r2 = (boxes[2] - 1) / 2;
    boxRow(row, out, r0, n - 1 - r0, r0);
    boxRow(out, row, r0 + r1, n - 1 - r0 - r1, r1);
    boxRow(row, out, pad, n - 1 - pad, r2);
    std::copy_n(out.begin() + static_cast<std::ptrdiff_t>(pad) * 4, static_cast<size_t>(n - 2 * pad) * 4,
                row.begin() + static_cast<std::ptrdiff_t>(pad) * 4);
  });
}

DesktopStill BackdropBlur::reference(const DesktopStill& source, double radius) {
  if (!(radius > 0.01) || !source.isWhole()) return source;
  const DesktopStill& image = source;
  const int w = image.width, h = image.height;
  const std::vector<float> kernel = gaussianKernel(radius);
  const int reach = static_cast<int>(kernel.size() / 2);
  std::vector<float> a;
  channels(image, a);
  std::vector<float> b(a.size(), 0);
  auto pass = [&](const std::vector<float>& in, std::vector<float>& out, int length, int count, int sampleStride,
                  int lineStride) {
    for (int line = 0; line < count; ++line) {
      for (int i = 0; i < length; ++i) {
        for (int c = 0; c < 4; ++c) {
          float sum = 0;
          for (int t = -reach; t <= reach; ++t) {
            const int j = std::clamp(i + t, 0, length - 1);
            sum += kernel[static_cast<size_t>(t + reach)] * in[static_cast<size_t>(line * lineStride + j * sampleStride + c)];
          }
          out[static_cast<size_t>(line * lineStride + i * sampleStride + c)] = sum;
        }
      }
    }
  };
  pass(a, b, w, h, 4, w * 4);
  pass(b, a, h, w, w * 4, 4);
  return imageOf(a, w, h);
}

}  // namespace quorvel
