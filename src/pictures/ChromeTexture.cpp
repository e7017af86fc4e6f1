#include "pictures/ChromeTexture.h"

#include <algorithm>
#include <cmath>

namespace quorvel {

PlateCoverage PlateCoverage::fromBitmap(const RasterBitmap& bitmap, double plateOpacity, bool mipmapped) {
  PlateCoverage plate;
  plate.width = bitmap.width();
  plate.height = bitmap.height();
  plate.plateOpacity = plateOpacity;
  plate.mipmapped = mipmapped;
  plate.bytes.resize(static_cast<size_t>(plate.width) * static_cast<size_t>(plate.height));
  const uint8_t* p = bitmap.data();
  for (size_t i = 0; i < plate.bytes.size(); ++i, p += 4)
    plate.bytes[i] = static_cast<uint8_t>((static_cast<unsigned>(p[3]) + p[2] + 1) / 2);  // BGRA bytes
  return plate;
}

RasterBitmap PlateCoverage::colours() const {
  std::optional<RasterBitmap> bitmap = RasterBitmap::make(std::max(width, 1), std::max(height, 1));
  if (!bitmap) return *RasterBitmap::make(1, 1);
  const double opacity = std::clamp(plateOpacity, 0.0, 1.0);
  uint8_t* out = bitmap->data();
  for (size_t i = 0; i < bytes.size() && i < static_cast<size_t>(width) * height; ++i, out += 4) {
    const double c = bytes[i] / 255.0;
    const double text = std::clamp(2 * c - 1, 0.0, 1.0), edge = std::clamp(2 * c, 0.0, 1.0);
    const double alpha = text + opacity * edge * (1 - text);
    const auto grey = static_cast<uint8_t>(std::lround(text * 255));
    out[0] = out[1] = out[2] = grey;
    out[3] = static_cast<uint8_t>(std::lround(alpha * 255));
  }
  return std::move(*bitmap);
}

ChromeTextureRef ChromeUploader::uploadPlate(const PlateCoverage& plate, std::string_view label) {
  if (plate.width <= 0 || plate.height <= 0) return nullptr;
  return upload(plate.colours(), label);
}

}  // namespace quorvel
