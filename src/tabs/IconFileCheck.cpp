#include "tabs/IconFileCheck.h"

#include <algorithm>
#include <array>
#include <cstring>
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
  return {Format::svg, std::nullopt, std::nullopt};
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
      if (!verdict.rewritten) verdict.failure = Failure::undecodable;
      break;
    case Format::ico:
      return checkIco(bytes);
    case Format::gif:
      if (!endsWith(withoutPadding(bytes), "\x3B"sv)) verdict.failure = Failure::undecodable;
      break;
    case Format::jpeg:
      if (!endsWith(withoutPadding(bytes), "\xFF\xD9"sv)) verdict.failure = Failure::undecodable;
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
