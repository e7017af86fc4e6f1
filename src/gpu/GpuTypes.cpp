#include "gpu/GpuTypes.h"

#include <algorithm>

namespace quorvel {

uint32_t GpuTextureDescriptor::fullMipCount(uint32_t width, uint32_t height) {
  uint32_t side = std::max(width, height);
  uint32_t levels = 1;
  while (side > 1) {
    side /= 2;
    ++levels;
  }
  return levels;
}

}  // namespace quorvel
