#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quorvel {

// Plain value types of the GPU layer. A texture is 8-bit BGRA with premultiplied alpha, or 8-bit
// single-channel (a coverage the shaders tint); positions and sizes are in pixels.

enum class GpuPixelFormat { bgra8Unorm, r8Unorm };

// Bytes of one texel of the format.
constexpr size_t bytesPerPixel(GpuPixelFormat format) { return format == GpuPixelFormat::r8Unorm ? 1 : 4; }

struct GpuColor {
  double red = 0, green = 0, blue = 0, alpha = 0;
};

// A rectangle of one mip level, in that level's pixels.
struct GpuRegion {
  uint32_t x = 0, y = 0, width = 0, height = 0;
  bool operator==(const GpuRegion&) const = default;
};

struct GpuTextureDescriptor {
  uint32_t width = 1;
  uint32_t height = 1;
  // 1 for a texture without mips; GpuTextureDescriptor::fullMipCount gives the whole chain.
  uint32_t mipLevels = 1;
  // The texture can be a render pass's colour target.
  bool renderTarget = false;
  std::string label;
  // A render target is always BGRA.
  GpuPixelFormat format = GpuPixelFormat::bgra8Unorm;

  // The number of levels of a full chain down to 1x1.
  static uint32_t fullMipCount(uint32_t width, uint32_t height);
};

struct GpuSamplerDescriptor {
  // Linear minification, magnification and mip filtering; clamp to edge in s and t.
  float maxAnisotropy = 1;
  std::string label;
  // Level 0 alone, no mip filtering: for a texture drawn magnified everywhere, where the level of
  // detail picks level 0 anyway. A CPU driver then works out no level of detail per pixel.
  bool levelZeroOnly = false;
};

// What a GPU command buffer reached.
enum class GpuCommandStatus { notCommitted, committed, completed, error };

// A picture read back from the GPU: rows of BGRA bytes, top row first, tightly packed.
struct GpuPixels {
  uint32_t width = 0;
  uint32_t height = 0;
  std::string bytes;  // width x height x 4

  // The premultiplied colour at (x, y) as blue, green, red, alpha bytes.
  struct Texel {
    uint8_t b = 0, g = 0, r = 0, a = 0;
  };
  Texel at(uint32_t x, uint32_t y) const {
    const size_t i = (static_cast<size_t>(y) * width + x) * 4;
    return {static_cast<uint8_t>(bytes[i]), static_cast<uint8_t>(bytes[i + 1]), static_cast<uint8_t>(bytes[i + 2]),
            static_cast<uint8_t>(bytes[i + 3])};
  }
};

}  // namespace quorvel
