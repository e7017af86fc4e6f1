#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace quorvel {

// A still of the desktop: `width` × `height` pixels, rows top to bottom, each 0xAARRGGBB (so
// blue, green, red, alpha in memory on this little-endian system, the layout of a BGRA texture).
struct DesktopStill {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;

  // Whether the size is positive and the pixels fill it exactly.
  bool isWhole() const {
    return width > 0 && height > 0 && pixels.size() == static_cast<size_t>(width) * static_cast<size_t>(height);
  }
  uint32_t at(int x, int y) const { return pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + x]; }
};

}  // namespace quorvel
