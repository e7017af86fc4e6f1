#pragma once

#include <memory>
#include <string_view>

#include "platform/RasterBitmap.h"

namespace quorvel {

// A texture of the overlay's chrome (an icon, a plate, a badge) on the GPU: BGRA 8-bit, with a
// full mip chain. Shared: a texture a cache drops stays valid for a frame still drawing it.
class ChromeTexture {
 public:
  virtual ~ChromeTexture() = default;
  virtual int width() const = 0;
  virtual int height() const = 0;
};

using ChromeTextureRef = std::shared_ptr<ChromeTexture>;

// The texture caches' one way to the GPU: a premultiplied BGRA bitmap becomes a texture of its
// size whose level 0 is the bitmap (first row to first row) and whose mip chain is then built on
// the GPU under `label` without waiting. Null when the device refuses the texture. Called on the
// main thread, outside every cache lock.
class ChromeUploader {
 public:
  virtual ~ChromeUploader() = default;
  virtual ChromeTextureRef upload(const RasterBitmap& bitmap, std::string_view label) = 0;
};

}  // namespace quorvel
