#include "platform/x11/X11IconPixmap.h"

#include <xcb/xcb.h>

#include <algorithm>

#include "platform/x11/X11Connection.h"

namespace quorvel {

namespace {

constexpr uint32_t kIconPixmapHint = 1u << 2;
constexpr uint32_t kIconMaskHint = 1u << 5;

// The bytes of one row; only for an image whose layout is sound.
size_t rowBytes(const X11IconPixmap::Image& image) {
  const size_t bits = static_cast<size_t>(image.width) * image.bitsPerPixel;
  const size_t pad = image.scanlinePad;
  return (bits + pad - 1) / pad * pad / 8;
}

bool isUnitSize(uint8_t bits) { return bits == 8 || bits == 16 || bits == 32; }

// Reads a drawable's whole image with the layout the server's setup gives for its depth.
std::optional<X11IconPixmap::Image> fetch(X11Connection& connection, uint32_t drawable, uint32_t maxSide,
                                          std::string* problem) {
  auto fail = [&](const char* why) -> std::optional<X11IconPixmap::Image> {
    if (problem) *problem = why;
    return std::nullopt;
  };
  xcb_connection_t* c = connection.xcb();
  auto geometry = connection.reply(xcb_get_geometry_reply, connection.counted(xcb_get_geometry(c, drawable)));
  if (!geometry) return fail("its pixmap is gone");
  if (geometry->width == 0 || geometry->height == 0) return fail("its pixmap is empty");
  if (geometry->width > maxSide || geometry->height > maxSide) return fail("its pixmap is absurdly large");
  X11IconPixmap::Image image;
  image.width = geometry->width;
  image.height = geometry->height;
  image.depth = geometry->depth;
  const xcb_setup_t* setup = xcb_get_setup(c);
  for (auto it = xcb_setup_pixmap_formats_iterator(setup); it.rem; xcb_format_next(&it)) {
    if (it.data->depth != image.depth) continue;
    image.bitsPerPixel = it.data->bits_per_pixel;
    image.scanlinePad = it.data->scanline_pad;
  }
  if (image.bitsPerPixel == 0) return fail("its pixmap has a depth the server names no format for");
  image.scanlineUnit = setup->bitmap_format_scanline_unit;
  image.lsbFirstBytes = setup->image_byte_order == XCB_IMAGE_ORDER_LSB_FIRST;
  image.lsbFirstBits = setup->bitmap_format_bit_order == XCB_IMAGE_ORDER_LSB_FIRST;
  auto reply = connection.reply(xcb_get_image_reply,
                                connection.counted(xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, drawable, 0, 0,
                                                                 geometry->width, geometry->height, ~0u)));
  if (!reply) return fail("its pixmap could not be read");
  // The reply's own depth must be the pixmap's, and its data (which xcb sized from the reply's
  // length) must hold every row; pixels() checks the rest of the layout before reading.
  if (reply->depth != image.depth) return fail("its pixmap came back with another depth");
  const int length = xcb_get_image_data_length(reply.get());
  if (length < 0) return fail("its pixmap could not be read");
  const uint8_t* data = xcb_get_image_data(reply.get());
  image.data.assign(data, data + length);
  if (!X11IconPixmap::layoutIsSound(image)) return fail("its pixmap came back in a layout that is not read");
  return image;
}

}  // namespace

bool X11IconPixmap::layoutIsSound(const Image& image) {
  // The protocol's own limits: sides of 16 bits, rows padded to 8, 16 or 32 bits, bitmaps in units
  // of 8, 16 or 32 bits no wider than the pad. Anything else is a broken server (or a proxy), and
  // the arithmetic below would divide by nothing or step past the data.
  if (image.width == 0 || image.height == 0 || image.width > 0xFFFF || image.height > 0xFFFF) return false;
  if (!isUnitSize(image.scanlinePad)) return false;
  switch (image.depth) {
    case 1:
      if (image.bitsPerPixel != 1 || !isUnitSize(image.scanlineUnit) || image.scanlineUnit > image.scanlinePad)
        return false;
      break;
    case 24:
    case 32:
      if (image.bitsPerPixel != 32) return false;
      break;
    default:
      return false;
  }
  return image.data.size() / rowBytes(image) >= image.height;
}

bool X11IconPixmap::bit(const Image& image, uint32_t x, uint32_t y) {
  const uint32_t unitBits = image.scanlineUnit;
  const uint32_t unitBytes = unitBits / 8;
  const uint32_t inUnit = x % unitBits;
  // The bit's significance within its unit, then the byte that holds it in memory.
  const uint32_t significance = image.lsbFirstBits ? inUnit : unitBits - 1 - inUnit;
  const uint32_t byteInUnit = image.lsbFirstBytes ? significance / 8 : unitBytes - 1 - significance / 8;
  const size_t at = y * rowBytes(image) + (x / unitBits) * unitBytes + byteInUnit;
  return (image.data[at] >> (significance % 8)) & 1;
}

std::optional<std::vector<uint32_t>> X11IconPixmap::pixels(const Image& image, const Image* mask) {
  if (!layoutIsSound(image) || (mask && (mask->depth != 1 || !layoutIsSound(*mask) || mask->width < image.width ||
                                         mask->height < image.height))) {
    return std::nullopt;
  }

  std::vector<uint32_t> out;
  out.reserve(static_cast<size_t>(image.width) * image.height);
  const size_t stride = rowBytes(image);
  for (uint32_t y = 0; y < image.height; ++y) {
    for (uint32_t x = 0; x < image.width; ++x) {
      uint32_t argb = 0;
      if (image.depth == 1) {
        argb = bit(image, x, y) ? 0xFF000000u : 0xFFFFFFFFu;
      } else {
        const uint8_t* p = image.data.data() + y * stride + x * 4;
        const uint32_t v = image.lsbFirstBytes ? p[0] | p[1] << 8 | p[2] << 16 | uint32_t{p[3]} << 24
                                               : uint32_t{p[0]} << 24 | p[1] << 16 | p[2] << 8 | p[3];
        if (image.depth == 24) {
          argb = 0xFF000000u | (v & 0xFFFFFFu);
        } else {
          // Premultiplied: each colour back to its own strength.
          const uint32_t a = v >> 24;
          auto channel = [&](int shift) {
            const uint32_t c = (v >> shift) & 0xFF;
            return a == 0 ? 0u : std::min<uint32_t>(255, (c * 255 + a / 2) / a);
          };
          argb = a << 24 | channel(16) << 16 | channel(8) << 8 | channel(0);
        }
      }
      if (mask && !bit(*mask, x, y)) argb = 0;
      out.push_back(argb);
    }
  }
  return out;
}

std::optional<AppIcon> X11IconPixmap::read(X11Connection& connection, uint32_t window, uint32_t maxSide,
                                           std::string* problem) {
  if (problem) problem->clear();
  // flags, input, initial state, icon pixmap, icon window, icon x, icon y, icon mask, window group
  const auto hints = connection.property(window, XCB_ATOM_WM_HINTS, XCB_ATOM_WM_HINTS, 9);
  if (!hints || hints->format != 32) return std::nullopt;
  const std::vector<uint32_t> values = hints->values32();
  if (values.size() < 8 || !(values[0] & kIconPixmapHint) || values[3] == 0) return std::nullopt;
  const std::optional<Image> image = fetch(connection, values[3], maxSide, problem);
  if (!image) return std::nullopt;
  std::optional<Image> mask;
  if ((values[0] & kIconMaskHint) && values[7] != 0) {
    std::string maskProblem;
    mask = fetch(connection, values[7], maxSide, &maskProblem);
    // A mask that cannot be read, or does not cover the icon, leaves the icon whole.
    if (mask && (mask->depth != 1 || mask->width < image->width || mask->height < image->height)) mask.reset();
  }
  const auto argb = pixels(*image, mask ? &*mask : nullptr);
  if (!argb) {
    if (problem) {
      *problem = "its pixmap has a depth or layout that is not read (depth " + std::to_string(image->depth) + ")";
    }
    return std::nullopt;
  }
  AppIcon icon;
  icon.width = static_cast<int>(image->width);
  icon.height = static_cast<int>(image->height);
  icon.argb = std::move(*argb);
  return icon;
}

}  // namespace quorvel
