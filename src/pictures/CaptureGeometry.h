#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "base/Geometry.h"
#include "platform/ShareableContent.h"

namespace quorvel {

// What a capture filter tells about the pixels of a capture: its point-to-pixel scale and the
// rectangle of its content in points (either may be unset: 0 and an empty rectangle).
struct CaptureFilterGeometry {
  double pointPixelScale = 0;
  Rect contentRect;
};

// A pixel region of a picture: origin and size in whole pixels, depth 1.
struct PixelRegion {
  int64_t x = 0, y = 0, width = 0, height = 0;
  bool operator==(const PixelRegion&) const = default;
};

struct PixelSize {
  int64_t width = 1, height = 1;
  bool operator==(const PixelSize&) const = default;
};

// The geometric rules shared by the picture store and the capture side: the pixel size of every
// capture, the region of a window's application that a card shows, and the two tests that decide
// whether a tab crop can be cut out of a window picture. Pure functions; no state.
class CaptureGeometry {
 public:
  static constexpr double kMaxWidth = 2600;
  static constexpr double kMaxHeight = 1200;

  // The pixel size of a capture of a window with `frame` (points): the filter's content rectangle
  // (or the frame when that is under 1 × 1 point) at the filter's scale (1 when not above 0),
  // shrunk to fit 2600 × 1200 pixels, never enlarged; at least 1 × 1.
  static PixelSize captureSize(const CaptureFilterGeometry& filter, const Rect& frame);

  // The union of `window`'s frame with the frames of every window of `windows` owned by the same
  // process; the window's own frame when it has no owning application.
  static Rect appRegion(const ShareableWindow& window, const std::vector<ShareableWindow>& windows);

  // Whether a picture of `width` × `height` pixels has the aspect of `rect` (points) within 2 %.
  static bool aspectMatches(double width, double height, const Rect& rect);

  // The pixels of a `width` × `height` picture covered by the unit rectangle `unit` (origin
  // floored, size rounded); none unless both sides are at least 8 pixels and inside the picture.
  static std::optional<PixelRegion> pixelExtent(double width, double height, const Rect& unit);
};

}  // namespace quorvel
