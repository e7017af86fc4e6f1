#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
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
//   JPEG  its end marker at the end; GIF its trailer at the end (zero padding after either is
//         allowed); WebP the length its header claims.
//   SVG   at most kMaxSvgBytes and kMaxSvgElements elements (kMaxSvgReuses of them reuses of
//         others), and no entity declarations: the work of drawing one grows with them.
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
  static constexpr size_t kMaxIcoImages = 64;

  static Verdict check(std::span<const uint8_t> bytes);
  // The image reader's name of a format ("png", "ico", ...).
  static const char* readerName(Format format);

  // A PNG (from its signature) made of whole chunks up to its end chunk, with only the chunks a
  // picture needs; none when it is cut short or malformed.
  static std::optional<std::vector<uint8_t>> essentialPng(std::span<const uint8_t> bytes);
};

}  // namespace quorvel
