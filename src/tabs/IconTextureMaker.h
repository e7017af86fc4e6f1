#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "tabs/IconTexture.h"

namespace quorvel {

// How the site-icon store turns a drawn bitmap into a GPU texture: the seam to the GPU layer's
// texture rasterizer. Called on the main thread only.
class IconTextureMaker {
 public:
  static constexpr int kSide = 128;                       // pixels on each side
  static constexpr size_t kBytesPerRow = 4 * kSide;       // premultiplied BGRA, 8 bits a channel
  static constexpr size_t kBytes = kBytesPerRow * kSide;  // 65,536

  virtual ~IconTextureMaker() = default;
  // A kSide by kSide BGRA texture with a full mip chain: `pixels` (kBytes, rows top first,
  // premultiplied alpha) become level 0, and the other levels are built on the GPU in a pass
  // labelled `label`, without waiting for it. None when no texture could be allocated.
  virtual IconTextureRef makeMipmappedTexture(std::span<const uint8_t> pixels, std::string_view label) = 0;
};

}  // namespace quorvel
