#pragma once

#include <string_view>
#include <vector>

#include "base/Geometry.h"
#include "platform/Raster.h"

namespace quorvel {

// A font of the overlay's chrome: the system font at a size in points and a weight.
struct OverlayFont {
  double size = 13;
  FontWeight weight = FontWeight::regular;
  bool operator==(const OverlayFont&) const = default;
};

// The vertical measures of a font, in points, y up from the baseline: `descender` is negative.
// `baselineOffset` is the distance from a line's top down to its baseline (what a layout manager
// calls the default baseline offset).
struct OverlayFontMetrics {
  double capHeight = 0;
  double ascender = 0;
  double descender = 0;
  double baselineOffset = 0;
};

// How the overlay measures its one-line texts: Qt's font metrics in the program, a fixed advance per
// user-perceived character in tests. Called on the main thread.
class OverlayTextMetrics {
 public:
  virtual ~OverlayTextMetrics() = default;
  // The fitting size of `text` set on one line, untruncated (zero for the empty text).
  virtual Size measure(std::string_view text, const OverlayFont& font) = 0;
  virtual OverlayFontMetrics fontMetrics(const OverlayFont& font) = 0;
  // The caret offsets of a one-line layout of `text`: one per user-perceived character boundary, the
  // first 0 and the last the line's advance (so count + 1 values; {0} for the empty text).
  virtual std::vector<double> caretOffsets(std::string_view text, const OverlayFont& font) = 0;
};

}  // namespace quorvel
