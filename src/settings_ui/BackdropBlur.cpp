#include "settings_ui/BackdropBlur.h"

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

// One box blur of half width r along lines of `length` samples, `count` lines, with a stride between
// samples of a line and between lines; edges repeat their outermost sample. Channels interleaved 4.
void boxPass(const std::vector<float>& in, std::vector<float>& out, int length, int count, int sampleStride,
             int lineStride, int r) {
  const float scale = 1.0f / static_cast<float>(2 * r + 1);
  for (int line = 0; line < count; ++line) {
    const int base = line * lineStride;
    auto at = [&](int i) { return base + std::clamp(i, 0, length - 1) * sampleStride; };
    for (int c = 0; c < 4; ++c) {
      float sum = 0;
      for (int i = -r; i <= r; ++i) sum += in[static_cast<size_t>(at(i) + c)];
      for (int i = 0; i < length; ++i) {
        out[static_cast<size_t>(base + i * sampleStride + c)] = sum * scale;
        sum += in[static_cast<size_t>(at(i + r + 1) + c)] - in[static_cast<size_t>(at(i - r) + c)];
      }
    }
  }
}

std::vector<float> channels(const QImage& image) {
  std::vector<float> out(static_cast<size_t>(image.width()) * static_cast<size_t>(image.height()) * 4);
  size_t k = 0;
  for (int y = 0; y < image.height(); ++y) {
    const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    for (int x = 0; x < image.width(); ++x) {
      out[k++] = static_cast<float>(qRed(line[x]));
      out[k++] = static_cast<float>(qGreen(line[x]));
      out[k++] = static_cast<float>(qBlue(line[x]));
      out[k++] = static_cast<float>(qAlpha(line[x]));
    }
  }
  return out;
}

QImage imageOf(const std::vector<float>& data, int width, int height) {
  QImage out(width, height, QImage::Format_ARGB32);
  size_t k = 0;
  auto byte = [](float v) { return static_cast<int>(std::clamp(std::lround(v), 0L, 255L)); };
  for (int y = 0; y < height; ++y) {
    auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
    for (int x = 0; x < width; ++x, k += 4) line[x] = qRgba(byte(data[k]), byte(data[k + 1]), byte(data[k + 2]), byte(data[k + 3]));
  }
  return out;
}

}  // namespace

double BackdropBlur::radiusFor(double blurAmount) {
  if (!(blurAmount > 0)) return 0;
  return std::min(blurAmount, 1.0) * 26;
}

QImage BackdropBlur::blurred(const QImage& source, double radius) {
  if (!(radius > 0.01) || source.isNull()) return source;
  // Small radii take few taps, and three boxes would be too coarse for them.
  if (radius < kExactBelow) return reference(source, radius);
  const QImage image = source.convertToFormat(QImage::Format_ARGB32);
  const int w = image.width(), h = image.height();
  const std::array<int, 3> boxes = boxesFor(radius);
  // Margins as wide as the boxes reach, filled with the edge pixels, so that the boxes see the
  // repeated edge the Gaussian sees; cut off at the end.
  const int pad = (boxes[0] - 1) / 2 + (boxes[1] - 1) / 2 + (boxes[2] - 1) / 2;
  const int pw = w + 2 * pad, ph = h + 2 * pad;
  std::vector<float> a(static_cast<size_t>(pw) * static_cast<size_t>(ph) * 4);
  const std::vector<float> inner = channels(image);
  for (int y = 0; y < ph; ++y) {
    const int sy = std::clamp(y - pad, 0, h - 1);
    for (int x = 0; x < pw; ++x) {
      const int sx = std::clamp(x - pad, 0, w - 1);
      for (int c = 0; c < 4; ++c) {
        a[(static_cast<size_t>(y) * pw + x) * 4 + c] = inner[(static_cast<size_t>(sy) * w + sx) * 4 + c];
      }
    }
  }
  std::vector<float> b(a.size());
  for (int box : boxes) {
    const int r = (box - 1) / 2;
    boxPass(a, b, pw, ph, 4, pw * 4, r);  // along rows
    boxPass(b, a, ph, pw, pw * 4, 4, r);  // along columns
  }
  std::vector<float> out(inner.size());
  for (int y = 0; y < h; ++y) {
    std::copy_n(a.begin() + static_cast<std::ptrdiff_t>((static_cast<size_t>(y + pad) * pw + pad) * 4), w * 4,
                out.begin() + static_cast<std::ptrdiff_t>(static_cast<size_t>(y) * w * 4));
  }
  return imageOf(out, w, h);
}

QImage BackdropBlur::reference(const QImage& source, double radius) {
  if (!(radius > 0.01) || source.isNull()) return source;
  const QImage image = source.convertToFormat(QImage::Format_ARGB32);
  const int w = image.width(), h = image.height();
  const int reach = static_cast<int>(std::ceil(3 * radius));
  std::vector<float> kernel(static_cast<size_t>(2 * reach + 1));
  float total = 0;
  for (int i = -reach; i <= reach; ++i) {
    total += kernel[static_cast<size_t>(i + reach)] = static_cast<float>(std::exp(-(i * i) / (2 * radius * radius)));
  }
  for (float& k : kernel) k /= total;
  std::vector<float> a = channels(image);
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
