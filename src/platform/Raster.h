#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/Geometry.h"
#include "platform/RasterBitmap.h"
#include "platform/VectorArt.h"

namespace quorvel {

// An sRGB colour with straight (not premultiplied) alpha, each component from 0 to 1.
struct RasterColor {
  double red = 0, green = 0, blue = 0, alpha = 1;
  bool operator==(const RasterColor&) const = default;
  static constexpr RasterColor grey(double level, double alpha = 1) { return {level, level, level, alpha}; }
  static constexpr RasterColor white(double alpha = 1) { return grey(1, alpha); }
  static constexpr RasterColor black(double alpha = 1) { return grey(0, alpha); }
};

enum class FontWeight { regular, medium, semibold, bold };

// One line of text in the system font at a size in pixels.
struct TextLine {
  std::string text;
  double fontSize = 13;
  FontWeight weight = FontWeight::regular;
  RasterColor color;
  bool operator==(const TextLine&) const = default;
};

// Where a line too wide for its box loses characters: at its end ("Long na…") or in its middle
// ("Long…name").
enum class TextTruncation { tail, middle };

// Lines of text set one under the other, each centred, each truncated on its own when wider than
// the box, with `lineSpacing` pixels between lines. Line heights include the font's leading.
struct TextBlock {
  std::vector<TextLine> lines;
  double lineSpacing = 0;
  TextTruncation truncation = TextTruncation::tail;
  bool operator==(const TextBlock&) const = default;
};

// Drawing into one bitmap. Coordinates are pixels with the origin at the bottom-left corner and y
// growing upward; drawing is antialiased and images are scaled with high quality. The drawing is
// complete in the bitmap once the canvas is destroyed.
class RasterCanvas {
 public:
  virtual ~RasterCanvas() = default;
  // Covers a rectangle with rounded corners (radius 0: square corners), source-over.
  virtual void fillRoundedRect(const Rect& rect, double radius, RasterColor color) = 0;
  // Covers the ellipse inscribed in `rect`, source-over.
  virtual void fillEllipse(const Rect& rect, RasterColor color) = 0;
  // Strokes the ellipse inscribed in `rect`, centred on its outline.
  virtual void strokeEllipse(const Rect& rect, double lineWidth, RasterColor color) = 0;
  // Strokes a path given in canvas coordinates, with round joins.
  virtual void strokePath(const VectorPath& path, double lineWidth, LineCap cap, RasterColor color) = 0;
  // Sets `text` inside `rect` (the same measurement as Raster::measureText with rect's width):
  // the first line at the top of the rectangle.
  virtual void drawText(const TextBlock& text, const Rect& rect) = 0;
  // Draws the whole of `image` scaled into `rect`, replacing what was there (copy compositing).
  virtual void drawImage(const RasterBitmap& image, const Rect& rect) = 0;
  // Draws a symbol at `pointSize` and `weight` tinted with `tint` (every covered pixel takes the
  // tint's colour, keeping the symbol's coverage), its box centred on `center`, source-over.
  virtual void drawSymbol(const SymbolGlyph& symbol, double pointSize, SymbolWeight weight, Point center,
                          RasterColor tint) = 0;
  // Limits the drawing that follows to `rect` (none: the whole bitmap again). A canvas that cannot
  // clip draws everything.
  virtual void setClip(const std::optional<Rect>& rect) { (void)rect; }
};

// The platform's 2D drawing: canvases on bitmaps, text measurement with the system font, and
// image decoding. Measurement and decoding may be called from any thread; a canvas is used by
// the thread that made it.
class Raster {
 public:
  virtual ~Raster() = default;
  // A canvas drawing into `bitmap`, which must outlive it.
  virtual std::unique_ptr<RasterCanvas> beginDrawing(RasterBitmap& bitmap) = 0;
  // The size `text` takes when set in a box `maxWidth` wide and unlimited in height: the widest
  // line after truncation by its width, and the lines' heights with the spacing between them.
  virtual Size measureText(const TextBlock& text, double maxWidth) = 0;
  // The picture of an image file (PNG, SVG, XPM and whatever else the platform reads), scaled to
  // fit a square of `side` pixels keeping its aspect; none when the file cannot be read.
  virtual std::optional<RasterBitmap> decodeImage(const std::string& path, int side) = 0;
};

}  // namespace quorvel
