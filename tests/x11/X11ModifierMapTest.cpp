#include <gtest/gtest.h>

#include <vector>

#include "platform/KeyEventSource.h"
#include "platform/x11/X11KeyCodes.h"
#include "platform/x11/X11ModifierMap.h"

namespace quorvel {
namespace {

constexpr uint8_t kMin = 8;
constexpr int kPerKey = 2;

// A keyboard mapping of key codes 8 to 255 with the given symbols, and a modifier mapping of two
// key codes per modifier.
struct Mappings {
  std::vector<uint32_t> keysyms = std::vector<uint32_t>((256 - kMin) * kPerKey, 0);
  std::vector<uint8_t> modifiers = std::vector<uint8_t>(8 * 2, 0);
  void key(uint8_t keycode, uint32_t keysym) { keysyms[(keycode - kMin) * kPerKey] = keysym; }
  void modifier(int index, uint8_t keycode) {
    auto& slot = modifiers[index * 2] == 0 ? modifiers[index * 2] : modifiers[index * 2 + 1];
    slot = keycode;
  }
  X11ModifierMap build() const { return X11ModifierMap::build(kMin, kPerKey, keysyms, 2, modifiers); }
};

TEST(X11ModifierMap, FindsAltSuperAndTheLocksWhereverTheMappingPutsThem) {
  Mappings usual;
  usual.key(50, 0xffe1);  // Shift_L
  usual.key(66, 0xffe5);  // Caps_Lock
  usual.key(37, 0xffe3);  // Control_L
  usual.key(64, 0xffe9);  // Alt_L
  usual.key(77, 0xff7f);  // Num_Lock
  usual.key(133, 0xffeb);  // Super_L
  usual.modifier(0, 50);
  usual.modifier(1, 66);
  usual.modifier(2, 37);
  usual.modifier(3, 64);
  usual.modifier(4, 77);
  usual.modifier(6, 133);
  const auto map = usual.build();
  EXPECT_EQ(map.altMask(), XCB_MOD_MASK_1);
  EXPECT_EQ(map.superMask(), XCB_MOD_MASK_4);
  EXPECT_EQ(map.numLockMask(), XCB_MOD_MASK_2);
  EXPECT_EQ(map.lockCombinations(), (std::vector<uint16_t>{0, XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2,
                                                           XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2}));
  EXPECT_EQ(map.modifiersOfKey(64), XCB_MOD_MASK_1);
  EXPECT_EQ(map.modifiersOfKey(66), 0) << "Caps Lock toggles; it is not held";
  EXPECT_EQ(map.modifiersOfKey(77), 0);
  EXPECT_EQ(map.flagsFromState(XCB_MOD_MASK_1 | XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_2),
            KeyFlags::option | KeyFlags::shift);
  EXPECT_EQ(map.stateFromFlags(KeyFlags::command | KeyFlags::control | KeyFlags::capsLock),
            XCB_MOD_MASK_4 | XCB_MOD_MASK_CONTROL);

  // Alt on Mod3, Super on Mod5, Scroll Lock on Mod2, no Num Lock key: Mod2 is taken by Scroll Lock.
  Mappings odd;
  odd.key(64, 0xffea);   // Alt_R
  odd.key(133, 0xffec);  // Super_R
  odd.key(78, 0xff14);   // Scroll_Lock
  odd.modifier(5, 64);
  odd.modifier(7, 133);
  odd.modifier(4, 78);
  const auto moved = odd.build();
  EXPECT_EQ(moved.altMask(), XCB_MOD_MASK_3);
  EXPECT_EQ(moved.superMask(), XCB_MOD_MASK_5);
  EXPECT_EQ(moved.scrollLockMask(), XCB_MOD_MASK_2);
  EXPECT_EQ(moved.flagsFromState(XCB_MOD_MASK_3 | XCB_MOD_MASK_5), KeyFlags::option | KeyFlags::command);

  // Only a Meta key: it stands for Alt. Nothing at all: the usual ModN.
  Mappings meta;
  meta.key(64, 0xffe7);
  meta.modifier(3, 64);
  EXPECT_EQ(meta.build().altMask(), XCB_MOD_MASK_1);
  const auto empty = Mappings{}.build();
  EXPECT_EQ(empty.altMask(), XCB_MOD_MASK_1);
  EXPECT_EQ(empty.superMask(), XCB_MOD_MASK_4);
}

TEST(X11KeyCodes, PhysicalKeysMapBothWays) {
  EXPECT_EQ(X11KeyCodes::xKeyCode(48), 23);  // Tab
  EXPECT_EQ(X11KeyCodes::xKeyCode(53), 9);   // Escape
  EXPECT_EQ(X11KeyCodes::xKeyCode(50), 49);  // the key above Tab
  EXPECT_EQ(X11KeyCodes::xKeyCode(3), 41);   // F
  EXPECT_EQ(X11KeyCodes::xKeyCode(63), std::nullopt);  // Function has no X key code
  for (int64_t code = 0; code < 128; ++code) {
    if (auto x = X11KeyCodes::xKeyCode(code)) {
      EXPECT_EQ(X11KeyCodes::virtualKeyCode(*x), code);
    }
  }
  EXPECT_EQ(X11KeyCodes::virtualKeyCode(0), std::nullopt);
  EXPECT_EQ(X11KeyCodes::virtualKeyCode(255), std::nullopt);
}

}  // namespace
}  // namespace quorvel
