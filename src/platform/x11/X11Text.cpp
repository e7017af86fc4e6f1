#include "platform/x11/X11Text.h"

#include <cstring>

namespace quorvel {

namespace {

size_t lengthToNul(const uint8_t* data, size_t size) {
  if (!data) return 0;
  const void* nul = std::memchr(data, 0, size);
  return nul ? static_cast<size_t>(static_cast<const uint8_t*>(nul) - data) : size;
}

void appendCodePoint(std::string& out, uint32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

constexpr uint32_t kReplacement = 0xFFFD;

// The length of the valid UTF-8 character at data[i], 0 when invalid; `incomplete` tells that the
// bytes ran out in the middle of an otherwise valid character.
size_t validCharacterAt(const uint8_t* data, size_t size, size_t i, bool& incomplete) {
  incomplete = false;
  const uint8_t b = data[i];
  if (b < 0x80) return 1;
  size_t length = 0;
  uint8_t low = 0x80, high = 0xBF;  // the allowed range of the second byte
  if (b >= 0xC2 && b <= 0xDF) {
    length = 2;
  } else if (b >= 0xE0 && b <= 0xEF) {
    length = 3;
    if (b == 0xE0) low = 0xA0;   // no overlong forms
    if (b == 0xED) high = 0x9F;  // no surrogates
  } else if (b >= 0xF0 && b <= 0xF4) {
    length = 4;
    if (b == 0xF0) low = 0x90;
    if (b == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    return 0;
  }
  for (size_t k = 1; k < length; ++k) {
    if (i + k >= size) {
      incomplete = true;
      return 0;
    }
    const uint8_t c = data[i + k];
    const uint8_t lo = k == 1 ? low : 0x80;
    const uint8_t hi = k == 1 ? high : 0xBF;
    if (c < lo || c > hi) return 0;
  }
  return length;
}

}  // namespace

bool X11Text::isValidUtf8(const uint8_t* data, size_t size) {
  for (size_t i = 0; i < size;) {
    bool incomplete = false;
    const size_t n = validCharacterAt(data, size, i, incomplete);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

std::string X11Text::fromUtf8(const uint8_t* data, size_t size, bool truncated) {
  const size_t n = lengthToNul(data, size);
  std::string out;
  out.reserve(n);
  for (size_t i = 0; i < n;) {
    bool incomplete = false;
    const size_t length = validCharacterAt(data, n, i, incomplete);
    if (length > 0) {
      out.append(reinterpret_cast<const char*>(data + i), length);
      i += length;
      continue;
    }
    // A value the server cut short may end in the middle of a character: drop that tail.
    if (incomplete && truncated && n == size) break;
    appendCodePoint(out, kReplacement);
    ++i;
  }
  return out;
}

std::string X11Text::fromLatin1(const uint8_t* data, size_t size) {
  const size_t n = lengthToNul(data, size);
  std::string out;
  out.reserve(n);
  for (size_t i = 0; i < n; ++i) appendCodePoint(out, data[i]);
  return out;
}

std::string X11Text::fromCompoundText(const uint8_t* data, size_t size) {
  const size_t n = lengthToNul(data, size);
  // Escape sequences (ESC, intermediate bytes 0x20..0x2F, one final byte) switch character sets;
  // ESC never occurs inside a UTF-8 character, so they can go before anything else is decided.
  std::vector<uint8_t> text;
  text.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    if (data[i] == 0x1B) {
      ++i;
      while (i < n && data[i] >= 0x20 && data[i] <= 0x2F) ++i;
      continue;
    }
    if (data[i] < 0x20 && data[i] != '\t' && data[i] != '\n') continue;
    text.push_back(data[i]);
  }
  if (isValidUtf8(text.data(), text.size())) return std::string(text.begin(), text.end());
  // ISO 8859-1: drop the C1 controls, and the control sequences that CSI (0x9B) starts.
  std::vector<uint8_t> latin;
  latin.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const uint8_t b = text[i];
    if (b == 0x9B) {
      ++i;
      while (i < text.size() && text[i] >= 0x20 && text[i] <= 0x3F) ++i;
      continue;
    }
    if (b >= 0x80 && b < 0xA0) continue;
    latin.push_back(b);
  }
  return fromLatin1(latin.data(), latin.size());
}

std::vector<std::string> X11Text::latin1List(const uint8_t* data, size_t size) {
  std::vector<std::string> items;
  size_t start = 0;
  for (size_t i = 0; i <= size; ++i) {
    if (i == size || data[i] == 0) {
      if (i > start || i < size) items.push_back(fromLatin1(data + start, i - start));
      start = i + 1;
    }
  }
  return items;
}

}  // namespace quorvel
