#pragma once

#include <string>
#include <vector>

#include "overlay/OverlayTextMetrics.h"

namespace quorvel {

// The caret geometry of the shown search query: `boundaries[k]` is the x offset (points, from the
// start of the line) of the caret standing after k user-perceived characters; the empty text has the
// single boundary 0. A plain value.
struct SearchTextMetrics {
  std::string text;
  std::vector<double> boundaries{0.0};

  SearchTextMetrics() = default;
  // Laid out on one line in `font` (combining marks and emoji sequences stay one character).
  SearchTextMetrics(std::string text, const OverlayFont& font, OverlayTextMetrics& metrics);

  // The caret index nearest to `x` (a click): 0 at or before the first boundary, the last index at
  // or after the last, the lower index on a tie.
  int caretIndex(double x) const;

  bool operator==(const SearchTextMetrics&) const = default;
};

}  // namespace quorvel
