#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace quorvel {

class KeyNames;

// Which of the two summon shortcuts: "hotkeyBinding1" / "hotkeyScope1" or "hotkeyBinding2" /
// "hotkeyScope2".
enum class HotkeySlot { first = 1, second = 2 };

// A shortcut: a virtual key code and the modifier bits that must be held with it.
//
// Stored as {"keyCode": integer, "flags": integer}; no shortcut is stored as the empty dictionary.
// Shift is never part of a binding: Shift held with a summon shortcut makes it step backward.
struct HotkeyBinding {
  static constexpr int64_t controlFlag = 0x40000;
  static constexpr int64_t optionFlag = 0x80000;
  static constexpr int64_t commandFlag = 0x100000;
  static constexpr int64_t shiftFlag = 0x20000;
  static constexpr int64_t modifierMask = controlFlag | optionFlag | commandFlag;  // 0x1C0000

  static constexpr int64_t tabKeyCode = 48;
  static constexpr int64_t escapeKeyCode = 53;

  enum class Role { summon, cancel };

  // Why a recorded shortcut is refused.
  struct Problem {
    enum class Kind { needsModifier, commandTab, escapeKey, blocksTyping, clash };
    Kind kind;
    std::string phrase;  // for clash: what the key does while the switcher is open

    std::string message() const;
    bool operator==(const Problem&) const = default;
  };

  int64_t keyCode = 0;
  int64_t requiredFlags = 0;

  bool operator==(const HotkeyBinding&) const = default;

  // Checks a recorded shortcut before it is stored; only the Control, Option and Command bits of
  // `flags` count.
  static std::optional<Problem> problemFor(int64_t keyCode, int64_t flags, Role role);

  // Re-checks a stored summon shortcut: none when either entry is missing or not an integer, or when
  // no modifier is held. (The Super+Tab rule is not applied when reading.)
  static std::optional<HotkeyBinding> fromStoredSummon(const nlohmann::json& stored);
  // Re-checks the stored cancel key: never Escape; without a modifier only a key that is allowed bare
  // and means nothing in the open switcher.
  static std::optional<HotkeyBinding> fromStoredCancel(const nlohmann::json& stored);

  // The stored form.
  nlohmann::json storedValue() const;

  // The modifiers as a Linux keyboard names them ("Ctrl+", "Alt+", "Super+", in that order), then the
  // key's name; a bare key shows its name alone.
  std::string displayString(const KeyNames& names) const;

  // A stored integer: a JSON integer, or a floating value that is whole and within the 64-bit range.
  static std::optional<int64_t> storedInteger(const nlohmann::json& value);
};

}  // namespace quorvel
