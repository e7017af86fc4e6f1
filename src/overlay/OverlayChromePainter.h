#pragma once

#include <optional>
#include <vector>

#include "base/Clock.h"
#include "platform/Raster.h"
#include "platform/RasterBitmap.h"
#include "platform/RasterRegions.h"
#include "platform/RasterSheet.h"

namespace quorvel {

class GlassCapsule;
class OverlayContentView;
enum class ChromeTextColor;

// Draws the overlay's text chrome (the title, search and empty-state capsules with their text, caret
// and glyph, the tip, the empty-state hint and the build badge) as the content view lays it out,
// through the 2D raster seam, into one transparent bitmap the size of the view in pixels, or only
// the painted parts of it into a small sheet. The card renderer lays that over the cards as a
// texture. Opacities are the ones the chrome clock
// shows at the instant given. Main thread (a canvas belongs to the thread that made it).
class OverlayChromePainter {
 public:
  // The glass of the capsules on the dark overlay: a translucent dark grey.
  static constexpr RasterColor kGlass{0.14, 0.14, 0.16, 0.82};

  // The plain backdrop shown in live-desktop mode when the window system did not blur what lies
  // behind the overlay (no blur-behind hint, or reduce transparency): a dark translucent tint, so
  // the desktop stays faintly visible under a compositing manager.
  static constexpr RasterColor kPlainBackdrop{0.07, 0.08, 0.10, 0.55};

  explicit OverlayChromePainter(Raster& raster) : raster_(raster) {}

  // What lies under the cards, as one premultiplied colour (red, green, blue and alpha, each 0 to
  // 1): the view's solid backdrop, its plain backdrop (kPlainBackdrop) and its black dim veil, each
  // where not hidden, at the opacity its clock shows at `now`, composed bottom to top. The card
  // renderer clears each frame to it (CardRenderer::setBackdrop).
  static RasterColor backdropColor(const OverlayContentView& view, Instant now);

  // The chrome of `view` at `now`, `scale` pixels a point; none when the size is refused. With
  // `painted`, also the pixel rectangles that can hold anything drawn (every capsule, text block,
  // caret, glyph and label, rounded out and a little grown for antialiasing and overhanging glyphs,
  // clipped to the bitmap and merged: see RasterRegions); none when nothing was drawn. Every pixel
  // outside them is transparent.
  std::optional<RasterBitmap> paint(const OverlayContentView& view, double scale, Instant now,
                                    RasterRegions* painted = nullptr);
  // The same into `reuse`, a bitmap painted before whose every pixel outside `reusePainted` is
  // transparent (what an earlier paint returned with its rectangles): those rectangles are made
  // transparent and the chrome painted anew, which spares a new bitmap of the whole overlay's size
  // at every change. A bitmap of another size than the view's is let go and a new one made.
  std::optional<RasterBitmap> paint(const OverlayContentView& view, double scale, Instant now, RasterRegions* painted,
                                    std::optional<RasterBitmap> reuse, const RasterRegions& reusePainted);
  // The same chrome as a sheet: only the painted rectangles, each drawn into its own place of a
  // bitmap as small as they are together (RasterSheet), with the same pixels as paint() gives them.
  // `reuse`, a sheet's bitmap painted before, is cleared and painted into again when it is large
  // enough (and not far too large). None when the view's size in pixels is refused.
  std::optional<RasterSheet> paintSheet(const OverlayContentView& view, double scale, Instant now,
                                        std::optional<RasterBitmap> reuse = std::nullopt);
  // The colour a text role shows in the overlay's dark appearance.
  static RasterColor textColor(ChromeTextColor role, double alpha);

  // The dark backdrop the overlay's texts were made for (the default flat colour).
  static constexpr RasterColor kDesignBackdrop{0x0a / 255.0, 0x0e / 255.0, 0x15 / 255.0, 1};
  // What shows under `frame` (view points) at `now`, as an opaque colour: the backdrop colour over
  // black (what an overlay without a compositing manager shows through), and over it the desktop's
  // still where it is in, its mean over the frame darkened by the dim veil.
  static RasterColor backdropUnder(const OverlayContentView& view, const Rect& frame, Instant now);
  // A text of `role` at `alpha` set straight on `under` (no capsule behind it), legible as it is
  // on the dark backdrop it was made for: its own white where that stands out as much (by the
  // contrast ratio of the web's accessibility guidelines), else white or black at the opacity that
  // does, whichever needs less (black on a light backdrop).
  static RasterColor legibleTextColor(ChromeTextColor role, double alpha, const RasterColor& under);
  // The contrast ratio of two opaque colours (1 to 21).
  static double contrast(const RasterColor& a, const RasterColor& b);

 private:
  struct Stroke;
  class Strokes;
  // Every drawing of the chrome in order, each with the pixels it can touch; `painted` receives
  // those pixels (its size is the bitmap's).
  std::vector<Stroke> strokes(const OverlayContentView& view, double scale, Instant now, RasterRegions& painted);
  void paintCapsule(Strokes& painted, const GlassCapsule& capsule, double scale, Instant now);
  // Where drawText sets `block` in `box` (canvas coordinates): from the box's top down, centred
  // across it, as tall and as wide as the text measures when larger than the box.
  Rect textExtent(const TextBlock& block, const Rect& box);
  // Adds a text block's extent to `painted`, limited to `clip` when given.
  void addText(Strokes& painted, const TextBlock& block, const Rect& box, const std::optional<Rect>& clip);

  Raster& raster_;
};

}  // namespace quorvel
