#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace quorvel {

// The user's current keyboard layout, as far as key names need it.
class KeyboardLayout {
 public:
  virtual ~KeyboardLayout() = default;
  // What the key types with no modifier held, as the layout shows it on the key (UTF-8; it may be a
  // control character or a blank); none when the layout gives nothing for the key.
  virtual std::optional<std::string> characters(uint16_t keyCode) const = 0;
};

}  // namespace quorvel
