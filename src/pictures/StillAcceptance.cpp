#include "pictures/StillAcceptance.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace quorvel {

int StillAcceptance::marginLimit(int side) { return std::max(static_cast<int>(std::floor(side * 0.01)), 2); }

StillAcceptance::Margins StillAcceptance::transparentMargins(const PixelBuffer& buffer) {
  if (!buffer.hasPixels()) return {};
  const int w = buffer.width, h = buffer.height;
  Margins margins;
  const int columns = std::min(marginLimit(w) + 1, w);
  margins.rightColumns = columns;
  for (int i = 0; i < columns; ++i) {
    const int x = w - 1 - i;
    bool clear = true;
    for (int y = 0; y < h && clear; ++y) clear = buffer.pixel(x, y)[3] == 0;
    if (!clear) {
      margins.rightColumns = i;
      break;
    }
  }
  const int rows = std::max(std::min(marginLimit(h) + 1, h), 1);
  margins.bottomRows = rows;
  for (int i = 0; i < rows; ++i) {
    const uint8_t* row = buffer.row(h - 1 - i);
    bool clear = true;
    for (int x = 0; x < w && clear; ++x) clear = row[static_cast<size_t>(x) * 4 + 3] == 0;
    if (!clear) {
      margins.bottomRows = i;
      break;
    }
  }
  return margins;
}

double StillAcceptance::sampledLuminance(const PixelBuffer& buffer) {
  if (!buffer.hasPixels()) return 255.0;
  const int w = buffer.width, h = buffer.height;
  // In thousandths, so that the sum is exact.
  int64_t sum = 0;
  for (double f : {0.1, 0.3, 0.5, 0.7, 0.9}) {
    const int x = std::min(static_cast<int>(std::floor(w * f)), w - 1);
    for (int i = 0; i < 5; ++i) {
      const int y = std::min(static_cast<int>(std::floor((i + 0.5) / 5 * h)), h - 1);
      const uint8_t* p = buffer.pixel(x, y);
      sum += 299 * p[2] + 587 * p[1] + 114 * p[0];
    }
  }
  return static_cast<double>(sum) / 25000;
}

bool StillAcceptance::acceptsStill(const PixelBuffer& buffer, bool drawnSinceMapped) {
  if (buffer.hasPixels()) {
    const Margins m = transparentMargins(buffer);
    if (m.rightColumns > marginLimit(buffer.width) || m.bottomRows > marginLimit(buffer.height)) return false;
  }
  return drawnSinceMapped || sampledLuminance(buffer) > kMinimumLuminance;
}

}  // namespace quorvel
