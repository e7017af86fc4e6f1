#pragma once

#include <optional>

#include "base/Clock.h"
#include "platform/Raster.h"
#include "platform/RasterBitmap.h"

namespace quorvel {

class GlassCapsule;
class OverlayContentView;
enum class ChromeTextColor;

// Draws the overlay's text chrome (the title, search and empty-state capsules with their text, caret
// and glyph, the tip, the empty-state hint and the build badge) as the content view lays it out,
// through the 2D raster seam, into one transparent bitmap the size of the view in pixels. The card
// renderer lays that bitmap over the cards as a texture. Opacities are the ones the chrome clock
// shows at the instant given. Main thread (a canvas belongs to the thread that made it).
class OverlayChromePainter {
 public:
  // The glass of the capsules on the dark overlay: a translucent dark grey.
  static constexpr RasterColor kGlass{0.14, 0.14, 0.16, 0.82};

  explicit OverlayChromePainter(Raster& raster) : raster_(raster) {}

  // The chrome of `view` at `now`, `scale` pixels a point; none when the size is refused.
  std::optional<RasterBitmap> paint(const OverlayContentView& view, double scale, Instant now);
  // The colour a text role shows in the overlay's dark appearance.
  static RasterColor textColor(ChromeTextColor role, double alpha);

 private:
  void paintCapsule(RasterCanvas& canvas, const GlassCapsule& capsule, double scale,
                    Instant now);

  Raster& raster_;
};

}  // namespace quorvel
