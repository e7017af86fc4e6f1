#pragma once

#include "overlay/OverlayTextMetrics.h"

namespace quorvel {

// The overlay's text metrics with Qt: the application's font at the size in points (drawn at 72
// dots per inch, as the raster seam draws, so a point is a pixel at scale 1), QFontMetricsF for
// sizes and font measures, and a one-line QTextLayout for caret offsets at grapheme boundaries. A
// QGuiApplication must exist. Main thread.
class QtOverlayTextMetrics final : public OverlayTextMetrics {
 public:
  Size measure(std::string_view text, const OverlayFont& font) override;
  OverlayFontMetrics fontMetrics(const OverlayFont& font) override;
  std::vector<double> caretOffsets(std::string_view text, const OverlayFont& font) override;
};

}  // namespace quorvel
