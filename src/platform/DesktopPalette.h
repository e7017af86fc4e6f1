#pragma once

#include <optional>

#include "platform/Raster.h"

namespace quorvel {

// The colours the user's desktop chose.
class DesktopPalette {
 public:
  virtual ~DesktopPalette() = default;
  // The accent (selection highlight) colour in sRGB, as the desktop resolves it for a dark
  // appearance; none when the desktop does not say or the colour cannot be read as sRGB.
  virtual std::optional<RasterColor> accentColor() = 0;
};

// The selection accent colour the overlay draws with: the desktop's, opaque, or
// kFallbackAccentColor when the desktop gives none.
struct AccentColor {
  static constexpr RasterColor kFallbackAccentColor{0.31, 0.45, 1.0, 1.0};
  static RasterColor resolve(DesktopPalette& palette);
};

}  // namespace quorvel
