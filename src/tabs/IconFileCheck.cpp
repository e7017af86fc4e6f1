#include "tabs/IconFileCheck.h"

#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <array>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>

namespace quorvel {

namespace {

using namespace std::string_view_literals;
using Failure = IconDecoder::Failure;

constexpr std::string_view kPngSignature = "\x89PNG\r\n\x1A\n"sv;
constexpr size_t kMaxIcoPngExtras = size_t{16} << 10;  // bytes of chunks beside the picture's own

bool startsWith(std::span<const uint8_t> bytes, std::string_view magic, size_t at = 0) {
  return bytes.size() >= at + magic.size() && std::memcmp(bytes.data() + at, magic.data(), magic.size()) == 0;
}

uint32_t bigEndian32(const uint8_t* p) {
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}
uint32_t littleEndian32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
uint16_t littleEndian16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

// The chunks a picture needs: without them it would not be drawn, or drawn in the wrong colours.
bool isEssentialChunk(std::string_view type) {
  static constexpr std::array<std::string_view, 8> kKept{"IHDR", "PLTE", "IDAT", "IEND",
                                                         "tRNS", "gAMA", "cHRM", "sRGB"};
  return std::find(kKept.begin(), kKept.end(), type) != kKept.end();
}

// The bytes without the zeros a writer may pad a file with.
std::span<const uint8_t> withoutPadding(std::span<const uint8_t> bytes) {
  size_t end = bytes.size();
  while (end > 0 && bytes[end - 1] == 0) --end;
  return bytes.first(end);
}

bool endsWith(std::span<const uint8_t> bytes, std::string_view tail) {
  return bytes.size() >= tail.size() &&
         std::memcmp(bytes.data() + bytes.size() - tail.size(), tail.data(), tail.size()) == 0;
}

// A bitmap picture of an icon file (header, palette, rows of colour): whether all of it is there.
// The transparency mask after the rows may be missing; readers treat that as opaque.
bool isWholeBitmap(std::span<const uint8_t> picture) {
  if (picture.size() < 40) return false;
  const uint32_t headerSize = littleEndian32(picture.data());
  const auto width = static_cast<int32_t>(littleEndian32(picture.data() + 4));
  const auto height = static_cast<int32_t>(littleEndian32(picture.data() + 8));
  const uint16_t bitCount = littleEndian16(picture.data() + 14);
  const uint32_t colorsUsed = littleEndian32(picture.data() + 32);
  if (headerSize < 40 || width <= 0 || height == 0 || height == INT32_MIN) return false;
  if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 16 && bitCount != 24 && bitCount != 32) {
    return false;
  }
  // The height counts the colour rows and the mask rows together.
  const uint64_t rows = static_cast<uint64_t>(height < 0 ? -int64_t{height} : int64_t{height}) / 2;
  const uint64_t stride = (static_cast<uint64_t>(width) * bitCount + 31) / 32 * 4;
  uint64_t palette = 0;
  if (bitCount <= 8) palette = uint64_t{colorsUsed != 0 ? std::min<uint32_t>(colorsUsed, 256) : 1u << bitCount} * 4;
  return uint64_t{headerSize} + palette + stride * rows <= picture.size();
}

IconFileCheck::Verdict refused(IconFileCheck::Format format, Failure failure) {
  return IconFileCheck::Verdict{format, failure, std::nullopt};
}

IconFileCheck::Verdict checkIco(std::span<const uint8_t> bytes) {
  using Format = IconFileCheck::Format;
  const uint16_t count = bytes.size() >= 6 ? littleEndian16(bytes.data() + 4) : 0;
  if (count == 0 || count > IconFileCheck::kMaxIcoImages) return refused(Format::ico, Failure::undecodable);
  const size_t directoryEnd = 6 + size_t{count} * 16;
  if (directoryEnd > bytes.size()) return refused(Format::ico, Failure::undecodable);
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* entry = bytes.data() + 6 + i * 16;
    const uint64_t size = littleEndian32(entry + 8);
    const uint64_t offset = littleEndian32(entry + 12);
    if (offset < directoryEnd || size == 0 || offset + size > bytes.size()) {
      return refused(Format::ico, Failure::undecodable);
    }
    const std::span<const uint8_t> picture = bytes.subspan(offset, size);
    if (startsWith(picture, kPngSignature)) {
      // A PNG inside is read as it stands: it may not carry much beside its picture.
      const std::optional<std::vector<uint8_t>> essential = IconFileCheck::essentialPng(picture);
      if (!essential) return refused(Format::ico, Failure::undecodable);
      if (picture.size() - essential->size() > kMaxIcoPngExtras) return refused(Format::ico, Failure::tooLarge);
      if (const auto failure = IconFileCheck::pngDataCheck(*essential)) return refused(Format::ico, *failure);
    } else if (!isWholeBitmap(picture)) {
      return refused(Format::ico, Failure::undecodable);
    }
  }
  return {Format::ico, std::nullopt, std::nullopt};
}

IconFileCheck::Verdict checkSvg(std::span<const uint8_t> bytes) {
  using Format = IconFileCheck::Format;
  if (bytes.size() > IconFileCheck::kMaxSvgBytes) return refused(Format::svg, Failure::tooLarge);
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  if (text.find("<!ENTITY") != std::string_view::npos) return refused(Format::svg, Failure::unsupported);
  size_t elements = 0;
  size_t reuses = 0;
  for (size_t at = text.find('<'); at != std::string_view::npos; at = text.find('<', at + 1)) {
    const char next = at + 1 < text.size() ? text[at + 1] : '\0';
    const bool startTag = (next >= 'a' && next <= 'z') || (next >= 'A' && next <= 'Z') || next == '_';
    if (!startTag) continue;
    ++elements;
    const std::string_view name = text.substr(at + 1, 4);
    if (name == "use " || name == "use\t" || name == "use\n" || name == "use/" || name == "use>") ++reuses;
    if (elements > IconFileCheck::kMaxSvgElements || reuses > IconFileCheck::kMaxSvgReuses) {
      return refused(Format::svg, Failure::tooLarge);
    }
  }
  {
    const std::optional<size_t> drawn =
        IconFileCheck::svgDrawnElements(text, IconFileCheck::kMaxSvgDrawnElements + 1);
    if (!drawn) return refused(Format::svg, Failure::undecodable);
    if (*drawn > IconFileCheck::kMaxSvgDrawnElements) return refused(Format::svg, Failure::tooLarge);
  }
  return {Format::svg, std::nullopt, std::nullopt};
}

// The value of attribute `name` in a start tag's text, or empty.
std::string_view attribute(std::string_view tag, std::string_view name) {
  for (size_t at = tag.find(name); at != std::string_view::npos; at = tag.find(name, at + 1)) {
    if (at == 0 || !std::isspace(static_cast<unsigned char>(tag[at - 1]))) continue;
    size_t i = at + name.size();
    while (i < tag.size() && std::isspace(static_cast<unsigned char>(tag[i]))) ++i;
    if (i >= tag.size() || tag[i] != '=') continue;
    ++i;
    while (i < tag.size() && std::isspace(static_cast<unsigned char>(tag[i]))) ++i;
    if (i >= tag.size() || (tag[i] != '"' && tag[i] != '\'')) continue;
    const size_t end = tag.find(tag[i], i + 1);
    if (end == std::string_view::npos) return {};
    return tag.substr(i + 1, end - i - 1);
  }
  return {};
}

// The bytes of a PNG's image data once inflated: one filter byte and the packed pixels per row, for
// each of the seven passes when interlaced.
uint64_t pngInflatedSize(uint32_t width, uint32_t height, uint32_t bitsPerPixel, bool interlaced) {
  const auto rows = [&](uint64_t columns, uint64_t count) {
    return columns == 0 || count == 0 ? 0 : count * (1 + (columns * bitsPerPixel + 7) / 8);
  };
  if (!interlaced) return rows(width, height);
  static constexpr std::array<std::array<uint32_t, 4>, 7> kPasses{{{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8},
                                                                   {2, 0, 4, 4}, {0, 2, 2, 4}, {1, 0, 2, 2},
                                                                   {0, 1, 1, 2}}};
  uint64_t total = 0;
  for (const auto& [x, y, dx, dy] : kPasses) {
    total += rows(width > x ? (uint64_t{width} - x + dx - 1) / dx : 0, height > y ? (uint64_t{height} - y + dy - 1) / dy : 0);
  }
  return total;
}

}  // namespace

const char* IconFileCheck::readerName(Format format) {
  switch (format) {
    case Format::png: return "png";
    case Format::ico: return "ico";
    case Format::svg: return "svg";
    case Format::gif: return "gif";
    case Format::jpeg: return "jpeg";
    case Format::webp: return "webp";
  }
  return "png";
}

std::optional<std::vector<uint8_t>> IconFileCheck::essentialPng(std::span<const uint8_t> bytes) {
  if (!startsWith(bytes, kPngSignature)) return std::nullopt;
  std::vector<uint8_t> kept(bytes.begin(), bytes.begin() + kPngSignature.size());
  size_t at = kPngSignature.size();
  bool first = true;
  while (at + 12 <= bytes.size()) {
    const uint64_t length = bigEndian32(bytes.data() + at);
    if (length > bytes.size() - at - 12) return std::nullopt;  // claims more than the file holds
    const std::string_view type(reinterpret_cast<const char*>(bytes.data() + at + 4), 4);
    if (first && type != "IHDR") return std::nullopt;
    first = false;
    const size_t end = at + 12 + static_cast<size_t>(length);
    if (isEssentialChunk(type)) kept.insert(kept.end(), bytes.begin() + at, bytes.begin() + end);
    if (type == "IEND") return kept;
    at = end;
  }
  return std::nullopt;  // cut short before its end chunk
}

std::optional<IconDecoder::Failure> IconFileCheck::pngDataCheck(std::span<const uint8_t> png) {
  if (!startsWith(png, kPngSignature) || png.size() < 33) return Failure::undecodable;
  const uint8_t* header = png.data() + 16;  // IHDR's data, which essentialPng made sure comes first
  const uint32_t width = bigEndian32(header);
  const uint32_t height = bigEndian32(header + 4);
  const uint32_t depth = header[8];
  const uint32_t colourType = header[9];
  if (width == 0 || height == 0) return Failure::emptyImage;
  if (width > uint32_t(IconDecoder::kMaxSide) || height > uint32_t(IconDecoder::kMaxSide)) return Failure::tooLarge;
  uint32_t channels = 0;
  switch (colourType) {
    case 0: case 3: channels = 1; break;
    case 2: channels = 3; break;
    case 4: channels = 2; break;
    case 6: channels = 4; break;
    default: return Failure::undecodable;
  }
  if (depth != 1 && depth != 2 && depth != 4 && depth != 8 && depth != 16) return Failure::undecodable;
  const uint64_t expected = pngInflatedSize(width, height, channels * depth, header[12] != 0);

  // Inflate the data chunks in order into a scratch buffer, counting, and stop at the first byte
  // past what the rows take: the work is bounded by the picture, not by the file's claims.
  z_stream stream{};
  if (inflateInit(&stream) != Z_OK) return Failure::undecodable;
  std::array<uint8_t, 64 * 1024> scratch;
  uint64_t inflated = 0;
  std::optional<Failure> verdict;
  bool ended = false;
  for (size_t at = kPngSignature.size(); !ended && !verdict && at + 12 <= png.size();) {
    const uint32_t length = bigEndian32(png.data() + at);
    const std::string_view type(reinterpret_cast<const char*>(png.data() + at + 4), 4);
    if (length > png.size() - at - 12) break;
    if (type == "IDAT") {
      stream.next_in = const_cast<Bytef*>(png.data() + at + 8);
      stream.avail_in = length;
      while (stream.avail_in > 0) {
        stream.next_out = scratch.data();
        stream.avail_out = static_cast<uInt>(scratch.size());
        const int result = inflate(&stream, Z_NO_FLUSH);
        inflated += scratch.size() - stream.avail_out;
        if (inflated > expected) {
          verdict = Failure::tooLarge;
          break;
        }
        if (result == Z_STREAM_END) {
          ended = true;
          break;
        }
        if (result != Z_OK && result != Z_BUF_ERROR) {
          verdict = Failure::undecodable;
          break;
        }
        if (result == Z_BUF_ERROR && stream.avail_out > 0) break;  // wants input this chunk lacks
      }
    }
    at += 12 + size_t{length};
  }
  inflateEnd(&stream);
  return verdict;
}

std::optional<size_t> IconFileCheck::jpegScans(std::span<const uint8_t> bytes) {
  if (!startsWith(bytes, "\xFF\xD8"sv)) return std::nullopt;
  size_t scans = 0;
  size_t at = 2;
  while (at + 1 < bytes.size()) {
    if (bytes[at] != 0xFF) return std::nullopt;
    const uint8_t marker = bytes[at + 1];
    if (marker == 0xFF) {  // fill before a marker
      ++at;
      continue;
    }
    if (marker == 0xD9) return scans;  // end of image
    if ((marker >= 0xD0 && marker <= 0xD7) || marker == 0x01) {
      at += 2;
      continue;
    }
    if (at + 4 > bytes.size()) return std::nullopt;
    const size_t length = size_t{bytes[at + 2]} << 8 | bytes[at + 3];
    if (length < 2 || at + 2 + length > bytes.size()) return std::nullopt;
    at += 2 + length;
    if (marker != 0xDA) continue;
    ++scans;
    // The scan's coded data runs to the next marker: a 0xFF that is neither stuffed (0xFF00) nor a
    // restart marker.
    while (at + 1 < bytes.size() &&
           !(bytes[at] == 0xFF && bytes[at + 1] != 0x00 && !(bytes[at + 1] >= 0xD0 && bytes[at + 1] <= 0xD7))) {
      ++at;
    }
  }
  return std::nullopt;
}

std::optional<size_t> IconFileCheck::svgDrawnElements(std::string_view text, size_t cap) {
  constexpr size_t kNone = ~size_t{0};
  struct Element {
    std::string_view id, target;
    bool reuse = false;
    std::vector<size_t> children;
  };
  std::vector<Element> elements;
  std::vector<size_t> roots, open;
  size_t at = 0;
  const auto skipTo = [&](std::string_view end) {
    const size_t found = text.find(end, at);
    at = found == std::string_view::npos ? text.size() : found + end.size();
  };
  while ((at = text.find('<', at)) != std::string_view::npos) {
    const std::string_view rest = text.substr(at);
    if (rest.starts_with("<!--")) { skipTo("-->"); continue; }
    if (rest.starts_with("<![CDATA[")) { skipTo("]]>"); continue; }
    if (rest.starts_with("<?")) { skipTo("?>"); continue; }
    if (rest.starts_with("<!")) { skipTo(">"); continue; }
    // The tag runs to the first '>' outside quotes.
    size_t end = at + 1;
    for (char quote = 0; end < text.size(); ++end) {
      const char c = text[end];
      if (quote) {
        if (c == quote) quote = 0;
      } else if (c == '"' || c == '\'') {
        quote = c;
      } else if (c == '>') {
        break;
      }
    }
    if (end >= text.size()) break;
    const std::string_view tag = text.substr(at + 1, end - at - 1);
    at = end + 1;
    if (tag.starts_with('/')) {
      if (!open.empty()) open.pop_back();
      continue;
    }
    size_t nameEnd = 0;
    while (nameEnd < tag.size() && !std::isspace(static_cast<unsigned char>(tag[nameEnd])) && tag[nameEnd] != '/') ++nameEnd;
    const std::string_view name = tag.substr(0, nameEnd);
    Element element;
    element.id = attribute(tag, "id");
    element.reuse = name == "use" || name.ends_with(":use");
    if (element.reuse) {
      std::string_view href = attribute(tag, "href");
      if (href.empty()) href = attribute(tag, "xlink:href");
      if (href.starts_with('#')) element.target = href.substr(1);
    }
    const size_t index = elements.size();
    elements.push_back(element);
    (open.empty() ? roots : elements[open.back()].children).push_back(index);
    if (!tag.ends_with('/')) open.push_back(index);
  }
  std::vector<size_t> byTarget(elements.size(), kNone);
  for (size_t i = 0; i < elements.size(); ++i) {
    if (!elements[i].reuse || elements[i].target.empty()) continue;
    for (size_t j = 0; j < elements.size(); ++j) {
      if (elements[j].id == elements[i].target) {
        byTarget[i] = j;
        break;
      }
    }
  }
  // Each element draws itself, its children and, for a reuse, what it reuses; counts stop at `cap`.
  enum class Mark : uint8_t { none, visiting, done };
  std::vector<Mark> marks(elements.size(), Mark::none);
  std::vector<size_t> drawn(elements.size(), 0);
  bool cycle = false;
  std::function<size_t(size_t)> count = [&](size_t i) -> size_t {
    if (marks[i] == Mark::done) return drawn[i];
    if (marks[i] == Mark::visiting) {
      cycle = true;
      return cap;
    }
    marks[i] = Mark::visiting;
    size_t total = 1;
    for (const size_t child : elements[i].children) total = std::min(cap, total + count(child));
    if (byTarget[i] != kNone) total = std::min(cap, total + count(byTarget[i]));
    marks[i] = Mark::done;
    return drawn[i] = total;
  };
  size_t total = 0;
  for (const size_t root : roots) total = std::min(cap, total + count(root));
  if (cycle) return std::nullopt;
  return total;
}

IconFileCheck::Verdict IconFileCheck::check(std::span<const uint8_t> bytes) {
  if (bytes.empty()) return refused(Format::png, Failure::empty);
  Verdict verdict;
  if (startsWith(bytes, kPngSignature)) {
    verdict.format = Format::png;
  } else if (startsWith(bytes, "\0\0\1\0"sv)) {
    verdict.format = Format::ico;
  } else if (startsWith(bytes, "GIF87a"sv) || startsWith(bytes, "GIF89a"sv)) {
    verdict.format = Format::gif;
  } else if (startsWith(bytes, "\xFF\xD8\xFF"sv)) {
    verdict.format = Format::jpeg;
  } else if (startsWith(bytes, "RIFF"sv) && startsWith(bytes, "WEBP"sv, 8)) {
    verdict.format = Format::webp;
  } else {
    // SVG is text: an optional byte-order mark and white space, then markup.
    size_t i = startsWith(bytes, "\xEF\xBB\xBF"sv) ? 3 : 0;
    while (i < bytes.size() && (bytes[i] == ' ' || bytes[i] == '\t' || bytes[i] == '\r' || bytes[i] == '\n')) ++i;
    if (i >= bytes.size() || bytes[i] != '<') return refused(Format::png, Failure::unsupported);
    return checkSvg(bytes);
  }
  if (bytes.size() > kMaxBytes) return refused(verdict.format, Failure::tooLarge);

  switch (verdict.format) {
    case Format::png:
      verdict.rewritten = essentialPng(bytes);
      if (!verdict.rewritten) {
        verdict.failure = Failure::undecodable;
      } else {
        verdict.failure = pngDataCheck(*verdict.rewritten);
      }
      break;
    case Format::ico:
      return checkIco(bytes);
    case Format::gif:
      if (!endsWith(withoutPadding(bytes), "\x3B"sv)) verdict.failure = Failure::undecodable;
      break;
    case Format::jpeg:
      if (!endsWith(withoutPadding(bytes), "\xFF\xD9"sv)) {
        verdict.failure = Failure::undecodable;
      } else if (const std::optional<size_t> scans = jpegScans(bytes); !scans) {
        verdict.failure = Failure::undecodable;
      } else if (*scans > kMaxJpegScans) {
        verdict.failure = Failure::tooLarge;
      }
      break;
    case Format::webp:
      if (bytes.size() < 12 || uint64_t{littleEndian32(bytes.data() + 4)} + 8 > bytes.size()) {
        verdict.failure = Failure::undecodable;
      }
      break;
    case Format::svg:
      break;
  }
  return verdict;
}

}  // namespace quorvel
