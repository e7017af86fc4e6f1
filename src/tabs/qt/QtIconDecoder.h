#pragma once

#include "tabs/IconDecoder.h"

namespace quorvel {

// The site-icon decoder on Qt's image readers. The bytes are vetted first (IconFileCheck: only the
// formats site icons come in, within their byte budget, whole, a PNG without the chunks no picture
// needs); the reader is told the format, so no other plug-in sees the bytes. Dimensions are checked before any pixel
// is decoded, every read runs under an allocation limit, and from an ICO file the largest image
// within the limit is taken. Stateless; safe from any thread.
class QtIconDecoder final : public IconDecoder {
 public:
  Result render(std::span<const uint8_t> bytes) const override;
};

}  // namespace quorvel
