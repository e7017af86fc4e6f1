#include "platform/RasterBitmap.h"

#include <algorithm>
#include <cstddef>

namespace quorvel {

RasterBitmap::RasterBitmap(int width, int height)
    : width_(width), height_(height), bytes_(static_cast<size_t>(width) * static_cast<size_t>(height) * 4, 0) {}

std::optional<RasterBitmap> RasterBitmap::make(int width, int height) {
  if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide) return std::nullopt;
  return RasterBitmap(width, height);
}

std::optional<RasterBitmap> RasterBitmap::fromStraightArgb(int width, int height, const uint32_t* argb,
                                                           size_t count) {
  auto bitmap = make(width, height);
  if (!bitmap || argb == nullptr || count / static_cast<size_t>(width) < static_cast<size_t>(height)) {
    return std::nullopt;
  }
  const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
  uint8_t* out = bitmap->data();
  for (size_t i = 0; i < pixels; ++i) {
    const uint32_t p = argb[i];
    const unsigned a = p >> 24;
    // Premultiply with rounding: c × a / 255.
    auto pre = [a](unsigned c) { return static_cast<uint8_t>((c * a + 127) / 255); };
    out[i * 4 + 0] = pre(p & 0xFF);
    out[i * 4 + 1] = pre((p >> 8) & 0xFF);
    out[i * 4 + 2] = pre((p >> 16) & 0xFF);
    out[i * 4 + 3] = static_cast<uint8_t>(a);
  }
  return bitmap;
}

void RasterBitmap::clear(int x, int y, int width, int height) {
  const int x0 = std::max(x, 0), y0 = std::max(y, 0);
  const int x1 = std::min(x + std::max(width, 0), width_), y1 = std::min(y + std::max(height, 0), height_);
  if (x1 <= x0 || y1 <= y0) return;
  for (int row = y0; row < y1; ++row)
    std::fill_n(bytes_.begin() + static_cast<std::ptrdiff_t>(static_cast<size_t>(row) * bytesPerRow() +
                                                             static_cast<size_t>(x0) * 4),
                static_cast<size_t>(x1 - x0) * 4, uint8_t{0});
}

RasterBitmap::Pixel RasterBitmap::pixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return {};
  const size_t at = static_cast<size_t>(y) * bytesPerRow() + static_cast<size_t>(x) * 4;
  return {bytes_[at], bytes_[at + 1], bytes_[at + 2], bytes_[at + 3]};
}

bool RasterBitmap::isBlank() const {
  for (size_t i = 3; i < bytes_.size(); i += 4) {
    if (bytes_[i] != 0) return false;
  }
  return true;
}

}  // namespace quorvel
