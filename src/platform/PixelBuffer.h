#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace quorvel {

// A captured picture: `height` rows of `width` pixels, `bytesPerRow` bytes apart, each pixel four
// bytes B, G, R, A (premultiplied alpha). `bytes` keeps the memory alive (a vector, a shared-memory
// segment) for as long as any copy of the buffer exists; it is never written through once the
// buffer has been handed on, so copies may be read from any thread. A buffer without bytes has no
// readable pixels.
struct PixelBuffer {
  int width = 0, height = 0;
  size_t bytesPerRow = 0;
  std::shared_ptr<const uint8_t> bytes;

  bool hasPixels() const { return bytes != nullptr && width >= 1 && height >= 1; }
  const uint8_t* row(int y) const { return bytes.get() + static_cast<size_t>(y) * bytesPerRow; }
  const uint8_t* pixel(int x, int y) const { return row(y) + static_cast<size_t>(x) * 4; }

  // A buffer of its own memory, every pixel `bgra` (B in the lowest byte).
  static PixelBuffer filled(int width, int height, uint32_t bgra);
  // A buffer that owns `pixels` (tightly packed rows).
  static PixelBuffer adopting(int width, int height, std::vector<uint8_t> pixels);
};

inline PixelBuffer PixelBuffer::adopting(int width, int height, std::vector<uint8_t> pixels) {
  auto owner = std::make_shared<std::vector<uint8_t>>(std::move(pixels));
  PixelBuffer out;
  out.width = width;
  out.height = height;
  out.bytesPerRow = static_cast<size_t>(width) * 4;
  out.bytes = std::shared_ptr<const uint8_t>(owner, owner->data());
  return out;
}

inline PixelBuffer PixelBuffer::filled(int width, int height, uint32_t bgra) {
  std::vector<uint8_t> pixels(static_cast<size_t>(width) * static_cast<size_t>(height) * 4);
  for (size_t i = 0; i + 3 < pixels.size(); i += 4) {
    pixels[i] = static_cast<uint8_t>(bgra);
    pixels[i + 1] = static_cast<uint8_t>(bgra >> 8);
    pixels[i + 2] = static_cast<uint8_t>(bgra >> 16);
    pixels[i + 3] = static_cast<uint8_t>(bgra >> 24);
  }
  return adopting(width, height, std::move(pixels));
}

}  // namespace quorvel
