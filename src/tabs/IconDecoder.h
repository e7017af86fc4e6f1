#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "platform/RasterBitmap.h"

namespace quorvel {

// Turns the image bytes of a site icon (as a website served them, so hostile until proven
// otherwise) into the square bitmap the site-icon store uploads: IconTextureMaker::kSide pixels on
// each side, transparent where the image does not reach. The
// image is fitted inside the square keeping its aspect ratio (small icons are scaled up) and
// centred. Pure: no shared state, any thread, one call at a time per object.
class IconDecoder {
 public:
  // Why bytes did not become a bitmap.
  enum class Failure {
    empty,        // no bytes at all
    unsupported,  // not an image format site icons come in
    tooLarge,     // wider or taller than kMaxSide, or more bytes or elements than an icon has,
                  // refused before any pixel was decoded
    undecodable,  // truncated or corrupt, or over the decoder's allocation limit
    emptyImage,   // decoded to a width or height of 0
    tooSlow,      // still decoding when its time budget ran out
  };
  struct Result {
    std::optional<RasterBitmap> bitmap;  // IconTextureMaker::kSide square, when there is no failure
    std::optional<Failure> failure;      // none on success
    bool ok() const { return !failure && bitmap; }
  };

  static constexpr int kMaxSide = 4096;
  // The most memory one decode may allocate for its pixels, in MiB (a kMaxSide square of 32-bit
  // pixels).
  static constexpr int kAllocationLimitMiB = 64;

  virtual ~IconDecoder() = default;
  virtual Result render(std::span<const uint8_t> bytes) const = 0;

  // A short lower-case phrase for a log line ("refused: larger than 4096 by 4096").
  static std::string_view describe(Failure failure);
};

}  // namespace quorvel
