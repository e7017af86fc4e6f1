#include "platform/DesktopPalette.h"

#include <cmath>

namespace quorvel {

RasterColor AccentColor::resolve(DesktopPalette& palette) {
  const std::optional<RasterColor> color = palette.accentColor();
  if (!color) return kFallbackAccentColor;
  auto unit = [](double c) { return std::isfinite(c) && c >= 0 && c <= 1; };
  if (!unit(color->red) || !unit(color->green) || !unit(color->blue)) return kFallbackAccentColor;
  return {color->red, color->green, color->blue, 1.0};
}

}  // namespace quorvel
