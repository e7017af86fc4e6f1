#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace quorvel {

// Turns the bytes of X text properties, which any client may set to anything, into valid UTF-8.
class X11Text {
 public:
  // A UTF8_STRING value: cut at the first NUL; every invalid byte sequence becomes U+FFFD, except an
  // incomplete last character of a value the server truncated, which is dropped.
  static std::string fromUtf8(const uint8_t* data, size_t size, bool truncated = false);
  // A STRING value (ISO 8859-1), cut at the first NUL.
  static std::string fromLatin1(const uint8_t* data, size_t size);
  // A COMPOUND_TEXT value, cut at the first NUL: escape sequences and control bytes are dropped; the
  // rest is read as UTF-8 when it is valid UTF-8 (clients that switch to UTF-8 segments), else as
  // ISO 8859-1 (the encoding compound text starts in).
  static std::string fromCompoundText(const uint8_t* data, size_t size);
  // The NUL-separated items of a list property (WM_CLASS), each read as ISO 8859-1; a last item
  // without its NUL still counts.
  static std::vector<std::string> latin1List(const uint8_t* data, size_t size);
  // True when the bytes are valid UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF).
  static bool isValidUtf8(const uint8_t* data, size_t size);
};

}  // namespace quorvel
