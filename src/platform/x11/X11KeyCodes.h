#pragma once

#include <cstdint>
#include <optional>

namespace quorvel {

// The program's virtual key codes (one per physical key position, whatever the layout) and the X
// key codes of the same positions. X servers on Linux number keys as the kernel does, plus 8, so the
// table goes through the kernel's key numbers. The key above Tab is virtual key 50; the extra key
// beside the left Shift of ISO keyboards is 10.
class X11KeyCodes {
 public:
  // The X key code of a virtual key code; none for keys without an X key code.
  static std::optional<uint8_t> xKeyCode(int64_t virtualKeyCode);
  // The virtual key code of an X key code; none for keys outside the table.
  static std::optional<int64_t> virtualKeyCode(uint8_t xKeyCode);
};

}  // namespace quorvel
