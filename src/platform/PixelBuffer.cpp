#include "platform/PixelBuffer.h"

#include <cstring>

namespace quorvel {
namespace {

bool sizeAccepted(uint32_t width, uint32_t height) {
  return width >= 1 && height >= 1 && width <= PixelBuffer::kMaxSide && height <= PixelBuffer::kMaxSide;
}

std::shared_ptr<uint8_t> allocate(size_t count) {
  return std::shared_ptr<uint8_t>(new uint8_t[count], std::default_delete<uint8_t[]>());
}

}  // namespace

bool PixelBuffer::isValid() const {
  return sizeAccepted(width, height) && bytes && bytesPerRow >= static_cast<size_t>(width) * 4;
}

std::optional<PixelBuffer> PixelBuffer::copyOf(uint32_t width, uint32_t height, const void* data, size_t stride) {
  if (!sizeAccepted(width, height) || !data || stride < static_cast<size_t>(width) * 4) return std::nullopt;
  const size_t row = static_cast<size_t>(width) * 4;
  auto bytes = allocate(row * height);
  for (uint32_t y = 0; y < height; ++y)
    std::memcpy(bytes.get() + y * row, static_cast<const uint8_t*>(data) + y * stride, row);
  return PixelBuffer{width, height, row, std::move(bytes)};
}

std::optional<PixelBuffer> PixelBuffer::filled(uint32_t width, uint32_t height, uint8_t blue, uint8_t green,
                                               uint8_t red, uint8_t alpha) {
  if (!sizeAccepted(width, height)) return std::nullopt;
  const size_t count = static_cast<size_t>(width) * height;
  auto bytes = allocate(count * 4);
  for (size_t i = 0; i < count; ++i) {
    bytes.get()[i * 4] = blue;
    bytes.get()[i * 4 + 1] = green;
    bytes.get()[i * 4 + 2] = red;
    bytes.get()[i * 4 + 3] = alpha;
  }
  return PixelBuffer{width, height, static_cast<size_t>(width) * 4, std::move(bytes)};
}

}  // namespace quorvel
