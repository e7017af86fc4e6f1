#pragma once

#include "platform/KeyboardLayout.h"

namespace quorvel {

// The US keyboard layout as a fixed table: what each key of an ANSI keyboard (and the ISO section
// key) types with no modifier held. Stands in until the desktop backend reads the user's own layout.
class UsKeyboardLayout : public KeyboardLayout {
 public:
  std::optional<std::string> characters(uint16_t keyCode) const override;
};

}  // namespace quorvel
