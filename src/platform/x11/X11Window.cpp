#include "platform/x11/X11Window.h"

namespace quorvel {

std::optional<std::string> X11Window::bundleIdentifierFor(std::string_view className) {
  if (className.empty()) return std::nullopt;
  std::string id = "x11.";
  id.reserve(4 + className.size());
  bool previousWasMultibyte = false;
  for (unsigned char c : className) {
    if (c >= 0x80) {
      // One '-' for each non-ASCII character, not for each of its bytes.
      if (c >= 0xC0 || !previousWasMultibyte) id.push_back('-');
      previousWasMultibyte = true;
      continue;
    }
    previousWasMultibyte = false;
    if (c >= 'A' && c <= 'Z') {
      id.push_back(static_cast<char>(c - 'A' + 'a'));
    } else if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '_') {
      id.push_back(static_cast<char>(c));
    } else {
      id.push_back('-');
    }
  }
  return id;
}

int X11Window::layerOf(Type type) {
  switch (type) {
    case Type::desktop: return -1;
    case Type::normal:
    case Type::dialog: return 0;
    case Type::utility:
    case Type::toolbar: return 3;
    case Type::dock: return 20;
    case Type::splash: return 21;
    case Type::menu:
    case Type::dropdownMenu:
    case Type::popupMenu:
    case Type::combo: return 101;
    case Type::notification: return 102;
    case Type::tooltip: return 103;
    case Type::dnd: return 104;
  }
  return 0;
}

}  // namespace quorvel
