#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "tabs/IconDecoder.h"

namespace quorvel {

// What a site icon's bytes are, checked before any image reader sees them (they come from other
// programs' files, so hostile until proven otherwise). Only the formats site icons come in are
// named (PNG, ICO, SVG, GIF, JPEG, WebP, from their signatures); a file over the byte budget is
// refused; and a file must hold its whole structure, since a reader given less either reads past
// what it has or fills in what is missing with whatever its memory held:
//   PNG   whole chunks from the header to the end chunk. Only the chunks a picture needs are kept
//         (header, palette, data, transparency, colour space); text, profiles and the rest, which
//         a file may make any size (compressed, too), are dropped before reading.
//   ICO   a directory whose pictures lie within the file, each a whole PNG (with little beside its
//         picture's own chunks) or a bitmap holding all its rows.
//         Its image data may not inflate to more than its rows take (nor its sides pass
//         IconDecoder::kMaxSide): a small file could otherwise keep a reader inflating a gigabyte.
//   JPEG  its end marker at the end, and at most kMaxJpegScans scans (each scan is a pass over
//         the whole picture); GIF its trailer at the end (zero padding after either is allowed);
//         WebP the length its header claims.
//   SVG   at most kMaxSvgBytes and kMaxSvgElements elements (kMaxSvgReuses of them reuses of
//         others), at most kMaxSvgDrawnElements once every reuse is drawn out (reuses of groups
//         that reuse others multiply), no reuse of itself, and no entity declarations: the work
//         of drawing one grows with them.
// Pure functions of the bytes; any thread.
class IconFileCheck {
 public:
  enum class Format { png, ico, svg, gif, jpeg, webp };

  struct Verdict {
    Format format = Format::png;
    std::optional<IconDecoder::Failure> failure;  // none: the bytes may be read
    std::optional<std::vector<uint8_t>> rewritten;  // the bytes to read instead (a PNG's needed chunks)
  };

  static constexpr size_t kMaxBytes = size_t{1} << 20;     // any icon file
  static constexpr size_t kMaxSvgBytes = size_t{64} << 10;
  static constexpr size_t kMaxSvgElements = 512;
  static constexpr size_t kMaxSvgReuses = 32;
  static constexpr size_t kMaxSvgDrawnElements = 4096;
  static constexpr size_t kMaxIcoImages = 64;
  static constexpr size_t kMaxJpegScans = 32;

  static Verdict check(std::span<const uint8_t> bytes);
  // The image reader's name of a format ("png", "ico", ...).
  static const char* readerName(Format format);

  // A PNG (from its signature) made of whole chunks up to its end chunk, with only the chunks a
  // picture needs; none when it is cut short or malformed.
  static std::optional<std::vector<uint8_t>> essentialPng(std::span<const uint8_t> bytes);
  // How a whole PNG's image data inflates: none (it may be read) or why not.
  static std::optional<IconDecoder::Failure> pngDataCheck(std::span<const uint8_t> png);
  // The number of scans of a JPEG, counted along its markers; none when its structure is broken.
  static std::optional<size_t> jpegScans(std::span<const uint8_t> bytes);
  // The elements an SVG draws once every reuse is drawn out (at most `cap`, for a cap reached);
  // none when a reuse leads back to itself.
  static std::optional<size_t> svgDrawnElements(std::string_view text, size_t cap);
};

}  // namespace quorvel
