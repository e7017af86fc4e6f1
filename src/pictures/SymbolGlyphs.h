#pragma once

#include <string_view>

#include "platform/VectorArt.h"

namespace quorvel {

// The symbols the badges show, drawn as our own vector art under the names the badges ask for:
// "display" (a monitor on its stand), "minus.circle.fill", "eye.slash.fill",
// "macwindow.badge.plus" (a window with a plus badge), "rectangle.topthird.inset.filled" (a frame
// whose top third is filled: a tab strip), "arrow.up.left.and.arrow.down.right" (two arrows
// pointing apart: full screen). Built once, immutable, safe from any thread.
class SymbolGlyphs {
 public:
  // The symbol of that name; null when there is none (the caller leaves it out).
  static const SymbolGlyph* named(std::string_view name);
};

}  // namespace quorvel
