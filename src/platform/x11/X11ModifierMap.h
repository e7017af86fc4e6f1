#pragma once

#include <xcb/xcb.h>

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace quorvel {

// Which X modifier carries which key of the program's vocabulary, read from the server's modifier
// and keyboard mappings: Option is the ModN that holds an Alt key (else a Meta key), Command the ModN
// that holds a Super key; Num Lock and Scroll Lock are lock modifiers like Caps Lock. Without such a
// key the usual ModN stands in (Mod1 Alt, Mod4 Super, Mod2 Num Lock).
class X11ModifierMap {
 public:
  static constexpr uint16_t shiftMask = XCB_MOD_MASK_SHIFT;
  static constexpr uint16_t lockMask = XCB_MOD_MASK_LOCK;
  static constexpr uint16_t controlMask = XCB_MOD_MASK_CONTROL;

  // From the mappings' raw tables: `keysyms` holds `keysymsPerKeycode` symbols for each key code
  // from `minKeycode` on; `modifierKeycodes` holds `keycodesPerModifier` key codes for each of the
  // eight modifiers (Shift, Lock, Control, Mod1 to Mod5), 0 for none.
  static X11ModifierMap build(uint8_t minKeycode, int keysymsPerKeycode, std::span<const uint32_t> keysyms,
                              int keycodesPerModifier, std::span<const uint8_t> modifierKeycodes);
  // Asks the server (two round trips); none when either mapping cannot be read.
  static std::optional<X11ModifierMap> read(xcb_connection_t* connection);

  uint16_t altMask() const { return alt_; }
  uint16_t superMask() const { return super_; }
  uint16_t numLockMask() const { return numLock_; }
  uint16_t scrollLockMask() const { return scrollLock_; }
  // The modifier bits a key code sets while held (0 for other keys). Lock modifiers are left out:
  // they toggle, they are not held.
  uint16_t modifiersOfKey(uint8_t keycode) const { return keyModifiers_[keycode]; }

  // An X modifier state as KeyFlags bits (Caps Lock included).
  uint64_t flagsFromState(uint16_t state) const;
  // Shift, Control, Option and Command of KeyFlags as X modifier bits.
  uint16_t stateFromFlags(uint64_t flags) const;
  // Every combination of the lock modifiers (Caps Lock, Num Lock, Scroll Lock), none included.
  std::vector<uint16_t> lockCombinations() const;

  bool operator==(const X11ModifierMap&) const = default;

 private:
  uint16_t alt_ = XCB_MOD_MASK_1;
  uint16_t super_ = XCB_MOD_MASK_4;
  uint16_t numLock_ = XCB_MOD_MASK_2;
  uint16_t scrollLock_ = 0;
  std::array<uint16_t, 256> keyModifiers_{};
};

}  // namespace quorvel
