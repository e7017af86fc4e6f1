#pragma once

#include <chrono>

#include "tabs/IconDecoder.h"

namespace quorvel {

// The site-icon decoder on Qt's image readers. The bytes are vetted first (IconFileCheck: only the
// formats site icons come in, within their byte budget, whole, a PNG without the chunks no picture
// needs); the reader is told the format, so no other plug-in sees the bytes. Dimensions are checked before any pixel
// is decoded, every read runs under an allocation limit, and from an ICO file the largest image
// within the limit is taken. A decode that is still reading its bytes when `budget` has passed
// gives up (tooSlow), so that one icon cannot hold the decode queue. Stateless; safe from any thread.
class QtIconDecoder final : public IconDecoder {
 public:
  static constexpr std::chrono::milliseconds kDefaultBudget{2000};
  explicit QtIconDecoder(std::chrono::milliseconds budget = kDefaultBudget) : budget_(budget) {}
  Result render(std::span<const uint8_t> bytes) const override;

 private:
  std::chrono::milliseconds budget_;
};

}  // namespace quorvel
