#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "platform/RasterBitmap.h"

namespace quorvel {

// A texture of the overlay's chrome (an icon, a plate, a badge) on the GPU: BGRA 8-bit with a full
// mip chain, or a text plate's coverage (PlateCoverage). Shared: a texture a cache drops stays valid
// for a frame still drawing it.
class ChromeTexture {
 public:
  virtual ~ChromeTexture() = default;
  virtual int width() const = 0;
  virtual int height() const = 0;
};

using ChromeTextureRef = std::shared_ptr<ChromeTexture>;

// A text plate (white text on a black rounded plate) as one byte of coverage a pixel, which the
// card shader turns back into colours: a value c below 128 is the plate's own edge, covered 2c/255
// (outside the plate 0); from 128 up the whole plate is under text of coverage (2c - 255)/255 (its
// colour's alpha included). Both halves are linear in c, so the texture filters like the colours.
struct PlateCoverage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> bytes;  // width x height, rows from the top
  double plateOpacity = 1;     // the black plate's alpha, applied when drawn
  bool mipmapped = true;       // with a mip chain (the plate can be drawn smaller than it is)

  // From a premultiplied bitmap holding the plate filled opaque black with the text drawn over it:
  // c = (alpha + red) / 2 (red is the text's coverage, alpha the plate's).
  static PlateCoverage fromBitmap(const RasterBitmap& bitmap, double plateOpacity, bool mipmapped);
  // The colours the shader draws for it, as a premultiplied bitmap.
  RasterBitmap colours() const;
};

// The texture caches' one way to the GPU: a premultiplied BGRA bitmap becomes a texture of its
// size whose level 0 is the bitmap (first row to first row) and whose mip chain is then built on
// the GPU under `label` without waiting. Null when the device refuses the texture. Called on the
// main thread, outside every cache lock.
class ChromeUploader {
 public:
  virtual ~ChromeUploader() = default;
  virtual ChromeTextureRef upload(const RasterBitmap& bitmap, std::string_view label) = 0;
  // A text plate: a single-channel texture of its coverage where the device offers one (the
  // renderer draws it with the plate's opacity), else its colours through upload() (the default).
  virtual ChromeTextureRef uploadPlate(const PlateCoverage& plate, std::string_view label);
};

}  // namespace quorvel
