#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace quorvel {

// A bitmap that 2D drawing renders into and that a texture is filled from: 8 bits per component,
// 4 bytes per pixel, rows of exactly width × 4 bytes, alpha premultiplied and stored first in a
// 32-bit little-endian word (so the bytes in memory are blue, green, red, alpha). The first row in
// memory is the top of the picture. A new bitmap is zero-filled: fully transparent.
//
// A plain value; moving it is cheap, copying it copies the pixels.
class RasterBitmap {
 public:
  // Larger sides are refused: no chrome texture is anywhere near, and a side that large would be
  // a computing fault.
  static constexpr int kMaxSide = 8192;

  struct Pixel {
    uint8_t blue = 0, green = 0, red = 0, alpha = 0;
    bool operator==(const Pixel&) const = default;
  };

  // A transparent bitmap; none when a side is not positive or larger than kMaxSide.
  static std::optional<RasterBitmap> make(int width, int height);
  // A bitmap from straight-alpha 0xAARRGGBB pixels, row by row from the top (the layout X11 icon
  // properties use); none when the sizes are refused or `argb` holds fewer than width × height.
  static std::optional<RasterBitmap> fromStraightArgb(int width, int height, const uint32_t* argb,
                                                      size_t count);

  int width() const { return width_; }
  int height() const { return height_; }
  size_t bytesPerRow() const { return static_cast<size_t>(width_) * 4; }
  size_t byteCount() const { return bytes_.size(); }
  uint8_t* data() { return bytes_.data(); }
  const uint8_t* data() const { return bytes_.data(); }

  // The pixel at column x of row y (row 0 at the top); a transparent pixel outside the bitmap.
  Pixel pixel(int x, int y) const;
  // True when no pixel has any coverage (every alpha is 0).
  bool isBlank() const;
  // Makes the pixels of a rectangle (x, y from the top left; clipped to the bitmap) transparent.
  void clear(int x, int y, int width, int height);

 private:
  RasterBitmap(int width, int height);

  int width_ = 0;
  int height_ = 0;
  std::vector<uint8_t> bytes_;
};

}  // namespace quorvel
