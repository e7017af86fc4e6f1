#include "platform/x11/X11ModifierMap.h"

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "platform/KeyEventSource.h"

namespace quorvel {

namespace {

constexpr uint32_t kAltL = 0xffe9, kAltR = 0xffea, kMetaL = 0xffe7, kMetaR = 0xffe8;
constexpr uint32_t kSuperL = 0xffeb, kSuperR = 0xffec;
constexpr uint32_t kNumLock = 0xff7f, kScrollLock = 0xff14;
constexpr int kModifierCount = 8;
constexpr int kFirstModN = 3;  // Shift, Lock, Control come first

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};

}  // namespace

X11ModifierMap X11ModifierMap::build(uint8_t minKeycode, int keysymsPerKeycode, std::span<const uint32_t> keysyms,
                                     int keycodesPerModifier, std::span<const uint8_t> modifierKeycodes) {
  X11ModifierMap map;
  auto keyHolds = [&](uint8_t keycode, std::initializer_list<uint32_t> wanted) {
    if (keycode < minKeycode || keysymsPerKeycode <= 0) return false;
    const size_t first = static_cast<size_t>(keycode - minKeycode) * static_cast<size_t>(keysymsPerKeycode);
    for (int i = 0; i < keysymsPerKeycode && first + i < keysyms.size(); ++i) {
      if (std::find(wanted.begin(), wanted.end(), keysyms[first + i]) != wanted.end()) return true;
    }
    return false;
  };
  auto modHolds = [&](int mod, std::initializer_list<uint32_t> wanted) {
    for (int k = 0; k < keycodesPerModifier; ++k) {
      const size_t at = static_cast<size_t>(mod * keycodesPerModifier + k);
      if (at < modifierKeycodes.size() && modifierKeycodes[at] != 0 && keyHolds(modifierKeycodes[at], wanted)) return true;
    }
    return false;
  };
  auto findMod = [&](std::initializer_list<uint32_t> wanted) -> uint16_t {
    for (int mod = kFirstModN; mod < kModifierCount; ++mod) {
      if (modHolds(mod, wanted)) return static_cast<uint16_t>(1u << mod);
    }
    return 0;
  };
  if (uint16_t m = findMod({kAltL, kAltR}); m) {
    map.alt_ = m;
  } else if (uint16_t meta = findMod({kMetaL, kMetaR}); meta) {
    map.alt_ = meta;
  }
  if (uint16_t m = findMod({kSuperL, kSuperR}); m) map.super_ = m;
  if (uint16_t m = findMod({kNumLock}); m) map.numLock_ = m;
  map.scrollLock_ = findMod({kScrollLock});

  const uint16_t locks = lockMask | map.numLock_ | map.scrollLock_;
  for (int mod = 0; mod < kModifierCount; ++mod) {
    const uint16_t bit = static_cast<uint16_t>(1u << mod);
    if (bit & locks) continue;
    for (int k = 0; k < keycodesPerModifier; ++k) {
      const size_t at = static_cast<size_t>(mod * keycodesPerModifier + k);
      if (at < modifierKeycodes.size() && modifierKeycodes[at] != 0) map.keyModifiers_[modifierKeycodes[at]] |= bit;
    }
  }
  return map;
}

std::optional<X11ModifierMap> X11ModifierMap::read(xcb_connection_t* connection) {
  const xcb_setup_t* setup = xcb_get_setup(connection);
  const uint8_t minKeycode = setup->min_keycode;
  const uint8_t count = static_cast<uint8_t>(setup->max_keycode - setup->min_keycode + 1);
  auto keyboardCookie = xcb_get_keyboard_mapping(connection, minKeycode, count);
  auto modifierCookie = xcb_get_modifier_mapping(connection);
  std::unique_ptr<xcb_get_keyboard_mapping_reply_t, FreeDeleter> keyboard(
      xcb_get_keyboard_mapping_reply(connection, keyboardCookie, nullptr));
  std::unique_ptr<xcb_get_modifier_mapping_reply_t, FreeDeleter> modifiers(
      xcb_get_modifier_mapping_reply(connection, modifierCookie, nullptr));
  if (!keyboard || !modifiers) return std::nullopt;
  const std::span<const uint32_t> keysyms(xcb_get_keyboard_mapping_keysyms(keyboard.get()),
                                          static_cast<size_t>(xcb_get_keyboard_mapping_keysyms_length(keyboard.get())));
  const std::span<const uint8_t> keycodes(xcb_get_modifier_mapping_keycodes(modifiers.get()),
                                          static_cast<size_t>(xcb_get_modifier_mapping_keycodes_length(modifiers.get())));
  return build(minKeycode, keyboard->keysyms_per_keycode, keysyms, modifiers->keycodes_per_modifier, keycodes);
}

uint64_t X11ModifierMap::flagsFromState(uint16_t state) const {
  uint64_t flags = 0;
  if (state & shiftMask) flags |= KeyFlags::shift;
  if (state & lockMask) flags |= KeyFlags::capsLock;
  if (state & controlMask) flags |= KeyFlags::control;
  if (state & alt_) flags |= KeyFlags::option;
  if (state & super_) flags |= KeyFlags::command;
  return flags;
}

uint16_t X11ModifierMap::stateFromFlags(uint64_t flags) const {
  uint16_t state = 0;
  if (flags & KeyFlags::shift) state |= shiftMask;
  if (flags & KeyFlags::control) state |= controlMask;
  if (flags & KeyFlags::option) state |= alt_;
  if (flags & KeyFlags::command) state |= super_;
  return state;
}

std::vector<uint16_t> X11ModifierMap::lockCombinations() const {
  std::vector<uint16_t> locks;
  for (uint16_t lock : {lockMask, numLock_, scrollLock_}) {
    if (lock && std::find(locks.begin(), locks.end(), lock) == locks.end()) locks.push_back(lock);
  }
  std::vector<uint16_t> combinations;
  for (size_t subset = 0; subset < (size_t{1} << locks.size()); ++subset) {
    uint16_t mask = 0;
    for (size_t i = 0; i < locks.size(); ++i) {
      if (subset & (size_t{1} << i)) mask |= locks[i];
    }
    combinations.push_back(mask);
  }
  return combinations;
}

}  // namespace quorvel
