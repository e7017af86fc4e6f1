#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

namespace quorvel {

// One captured picture in memory, as the capture service hands it over: 8-bit BGRA with
// premultiplied alpha (the bytes of a pixel are blue, green, red, alpha), rows `bytesPerRow` apart
// with the top row first. The bytes are shared and never written once the buffer is made, so a
// buffer is a cheap value that any thread may read; `bytes` may own memory of any kind (a vector,
// a shared-memory segment) through its deleter.
struct PixelBuffer {
  static constexpr uint32_t kMaxSide = 16384;

  uint32_t width = 0;
  uint32_t height = 0;
  size_t bytesPerRow = 0;
  std::shared_ptr<const uint8_t> bytes;

  // At least 1 × 1, no side above kMaxSide, rows wide enough for the width, and bytes present.
  bool isValid() const;
  // The first byte of row `y` (0 at the top).
  const uint8_t* row(uint32_t y) const { return bytes.get() + static_cast<size_t>(y) * bytesPerRow; }

  // A buffer holding a copy of `height` rows of `data`, `stride` bytes apart; none when the sizes
  // are refused (see isValid) or `data` is null.
  static std::optional<PixelBuffer> copyOf(uint32_t width, uint32_t height, const void* data, size_t stride);
  // A buffer of one colour (tests and the simulated desktop): bytes blue, green, red, alpha.
  static std::optional<PixelBuffer> filled(uint32_t width, uint32_t height, uint8_t blue, uint8_t green,
                                           uint8_t red, uint8_t alpha);
};

}  // namespace quorvel
