#pragma once

#include <string_view>

#include "platform/RasterBitmap.h"
#include "tabs/IconTexture.h"

namespace quorvel {

// How the site-icon store turns a drawn bitmap into a GPU texture: the seam to the GPU layer's
// texture rasterizer. Called on the main thread only.
class IconTextureMaker {
 public:
  static constexpr int kSide = 128;  // pixels on each side of a site icon's texture

  virtual ~IconTextureMaker() = default;
  // A BGRA texture of the bitmap's size with a full mip chain: the bitmap becomes level 0 (first
  // row to first row), and the other levels are built on the GPU in a pass labelled `label`,
  // without waiting for it. None when no texture could be allocated.
  virtual IconTextureRef makeMipmappedTexture(const RasterBitmap& bitmap, std::string_view label) = 0;
};

}  // namespace quorvel
