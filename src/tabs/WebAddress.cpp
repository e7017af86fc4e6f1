#include "tabs/WebAddress.h"

namespace quorvel {

namespace {

bool isAsciiAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isAsciiDigit(char c) { return c >= '0' && c <= '9'; }

bool isSchemeChar(char c) { return isAsciiAlpha(c) || isAsciiDigit(c) || c == '+' || c == '-' || c == '.'; }

// Unreserved, sub-delimiters, percent escapes and non-ASCII bytes (internationalised names).
bool isHostChar(char c) {
  if (static_cast<unsigned char>(c) >= 0x80) return true;
  if (isAsciiAlpha(c) || isAsciiDigit(c)) return true;
  switch (c) {
    case '-': case '.': case '_': case '~': case '%':
    case '!': case '$': case '&': case '\'': case '(': case ')':
    case '*': case '+': case ',': case ';': case '=':
      return true;
    default:
      return false;
  }
}

bool isLiteralChar(char c) {
  return isAsciiAlpha(c) || isAsciiDigit(c) || c == ':' || c == '.' || c == '%' || c == '-' || c == '_' ||
         c == '~';
}

std::optional<std::string> schemeOf(std::string_view text, size_t& rest) {
  const size_t colon = text.find(':');
  if (colon == std::string_view::npos || colon == 0) return std::string();
  // A ':' after the first '/', '?' or '#' belongs to a relative reference, not to a scheme.
  const size_t stop = text.find_first_of("/?#");
  if (stop != std::string_view::npos && stop < colon) return std::string();
  if (!isAsciiAlpha(text[0])) return std::nullopt;
  for (size_t i = 1; i < colon; ++i) {
    if (!isSchemeChar(text[i])) return std::nullopt;
  }
  rest = colon + 1;
  return std::string(text.substr(0, colon));
}

}  // namespace

std::optional<WebAddress> WebAddress::parse(std::string_view text) {
  if (text.empty()) return std::nullopt;
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte == 0x7F) return std::nullopt;
  }

  WebAddress address;
  size_t rest = 0;
  auto scheme = schemeOf(text, rest);
  if (!scheme) return std::nullopt;
  address.scheme = std::move(*scheme);

  std::string_view tail = text.substr(rest);
  if (tail.substr(0, 2) != "//") return address;
  tail.remove_prefix(2);
  std::string_view authority = tail.substr(0, tail.find_first_of("/?#"));

  const size_t at = authority.rfind('@');
  if (at != std::string_view::npos) authority.remove_prefix(at + 1);

  std::string_view hostPart;
  std::string_view portPart;
  bool hasPort = false;
  if (!authority.empty() && authority.front() == '[') {
    const size_t close = authority.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    hostPart = authority.substr(0, close + 1);
    for (char c : hostPart.substr(1, hostPart.size() - 2)) {
      if (!isLiteralChar(c)) return std::nullopt;
    }
    std::string_view after = authority.substr(close + 1);
    if (!after.empty()) {
      if (after.front() != ':') return std::nullopt;
      hasPort = true;
      portPart = after.substr(1);
    }
  } else {
    const size_t colon = authority.find(':');
    hostPart = authority.substr(0, colon);
    if (colon != std::string_view::npos) {
      hasPort = true;
      portPart = authority.substr(colon + 1);
    }
    for (char c : hostPart) {
      if (!isHostChar(c)) return std::nullopt;
    }
  }

  if (hasPort && !portPart.empty()) {
    int port = 0;
    for (char c : portPart) {
      if (!isAsciiDigit(c)) return std::nullopt;
      port = port * 10 + (c - '0');
      if (port > 65535) return std::nullopt;
    }
    address.port = port;
  }
  address.host = std::string(hostPart);
  return address;
}

}  // namespace quorvel
