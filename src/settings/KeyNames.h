#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quorvel {

class KeyboardLayout;

// The short name shown for a key in a shortcut: a fixed name for keys that type no character (Tab,
// arrows, function and keypad keys), else the character the current keyboard layout prints on the
// key, upper-cased, else "Key " and the code.
class KeyNames {
 public:
  explicit KeyNames(const KeyboardLayout& layout);

  // Never empty.
  std::string name(int64_t keyCode) const;
  // The layout's character for the key, upper-cased, with blanks and control characters dropped;
  // none for a code outside 0 to 65535 or when nothing printable is left.
  std::optional<std::string> layoutName(int64_t keyCode) const;

  // The fixed names, in table order (53 entries).
  static const std::vector<std::pair<int64_t, std::string_view>>& table();

 private:
  const KeyboardLayout& layout_;
};

}  // namespace quorvel
