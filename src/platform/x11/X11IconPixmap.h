#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/AppIconSource.h"

namespace quorvel {

class X11Connection;

// The icon an older X client gives only as a pixmap in its WM_HINTS (IconPixmapHint), with the
// bitmap of its shape beside it (IconMaskHint): xclock, xcalc and their kin. The pixmap is read
// from the server and turned into straight-alpha ARGB pixels: a bitmap (depth 1) as black on
// white, as window managers draw such icons, a 24-bit pixmap as opaque colours, a 32-bit one with
// its (premultiplied) alpha; the mask makes what it leaves out transparent. Other depths, pixmaps
// wider or taller than the icon limit and pixmaps that are gone give no icon, with the reason.
class X11IconPixmap {
 public:
  // One image as the server hands it back (GetImage, ZPixmap), with the layout the server's setup
  // gives for its depth.
  struct Image {
    uint32_t width = 0, height = 0;
    uint8_t depth = 0;
    uint8_t bitsPerPixel = 0;
    uint8_t scanlinePad = 32;     // bits a row is padded to
    uint8_t scanlineUnit = 32;    // bits of a bitmap unit (depth 1 only)
    bool lsbFirstBytes = true;    // the server's image byte order
    bool lsbFirstBits = true;     // the server's bitmap bit order (depth 1 only)
    std::vector<uint8_t> data;
  };

  // The icon of `window`'s WM_HINTS, read through `connection`; none, with the reason in
  // `problem` (empty when the window names no icon pixmap), when there is none to read.
  static std::optional<AppIcon> read(X11Connection& connection, uint32_t window, uint32_t maxSide,
                                     std::string* problem);

  // The ARGB pixels of an image, masked by `mask` (a bitmap of the same size) when given; none when
  // its depth or layout is not one of the above or its data is too short.
  static std::optional<std::vector<uint32_t>> pixels(const Image& image, const Image* mask);
  // Whether an image's depth, bits per pixel, padding and units are ones the protocol allows and
  // this reader knows, and its data holds every row: only then is it read.
  static bool layoutIsSound(const Image& image);

 private:
  // The bit of a bitmap image at (x, y).
  static bool bit(const Image& image, uint32_t x, uint32_t y);
};

}  // namespace quorvel
