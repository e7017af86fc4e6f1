#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string_view>

namespace quorvel {

// The key codes the shortcut settings reason about (in the program's key-code vocabulary): the key
// above Tab, the keys that act while the switcher is open, and the keys allowed bare as the cancel
// key. Plain tables, built once.
class SwitcherKeyCodes {
 public:
  // The key codes of the key above Tab: 50 (ANSI) and 10 (ISO).
  static const std::set<int64_t>& backwardKeyCodes();
  // The nine keys that act while the switcher is open, with the phrase that ends the clash message.
  static const std::map<int64_t, std::string_view>& switcherKeyMeanings();
  // The keys allowed as the cancel key with no modifier: F1 to F20, Help, Home, End, Page Up,
  // Page Down and Forward Delete.
  static const std::set<int64_t>& bareKeyCodes();
};

}  // namespace quorvel
