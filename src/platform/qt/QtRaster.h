#pragma once

#include "platform/Raster.h"

namespace quorvel {

// 2D drawing with Qt: QPainter on a premultiplied ARGB32 image that shares the bitmap's memory
// (the same byte order on a little-endian machine), text set in the system font with QFontMetricsF,
// image files decoded with QImageReader (SVG through Qt's image plug-in). Sizes are pixels: the
// image's resolution is set to 72 dots per inch, so a font of size N is N pixels tall.
//
// A QGuiApplication must exist (fonts come from it); canvases, measurement and decoding may be used
// from any thread.
class QtRaster final : public Raster {
 public:
  std::unique_ptr<RasterCanvas> beginDrawing(RasterBitmap& bitmap) override;
  Size measureText(const TextBlock& text, double maxWidth) override;
  std::optional<RasterBitmap> decodeImage(const std::string& path, int side) override;
};

}  // namespace quorvel
