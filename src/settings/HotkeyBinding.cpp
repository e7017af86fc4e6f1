#include "settings/HotkeyBinding.h"

#include <cmath>

#include "settings/AppSettings.h"
#include "settings/KeyNames.h"

namespace quorvel {

namespace {

struct StoredPair {
  int64_t keyCode;
  int64_t flags;
};

std::optional<StoredPair> storedPair(const nlohmann::json& stored) {
  if (!stored.is_object()) return std::nullopt;
  const auto keyCode = stored.find("keyCode");
  const auto flags = stored.find("flags");
  if (keyCode == stored.end() || flags == stored.end()) return std::nullopt;
  const auto key = HotkeyBinding::storedInteger(*keyCode);
  const auto bits = HotkeyBinding::storedInteger(*flags);
  if (!key || !bits) return std::nullopt;
  return StoredPair{*key, *bits};
}

}  // namespace

std::string HotkeyBinding::Problem::message() const {
  switch (kind) {
    case Kind::needsModifier:
      return "A shortcut needs Ctrl, Alt or Super in it. Shift on its own is not enough: "
             "Shift is what steps backward.";
    case Kind::commandTab:
      return "Your desktop keeps Super+Tab for its own switcher, so it cannot be used here. Add Alt or "
             "Ctrl to it, or pick another key.";
    case Kind::escapeKey:
      return "Esc already closes the switcher, so it does not need to be set here. Pick a different "
             "key.";
    case Kind::blocksTyping:
      return "On its own that key would get in the way of typing to search. Hold Ctrl, Alt or Super "
             "with it, or pick a key like F5.";
    case Kind::clash:
      return "While the switcher is open, that key " + phrase +
             ". Pick another key, or hold Ctrl, Alt or Super with it.";
  }
  return {};
}

std::optional<HotkeyBinding::Problem> HotkeyBinding::problemFor(int64_t keyCode, int64_t flags,
                                                                Role role) {
  const int64_t modifiers = flags & modifierMask;
  if (role == Role::summon) {
    if (modifiers == 0) return Problem{Problem::Kind::needsModifier, {}};
    if (modifiers == commandFlag && keyCode == tabKeyCode) return Problem{Problem::Kind::commandTab, {}};
    return std::nullopt;
  }
  if (keyCode == escapeKeyCode) return Problem{Problem::Kind::escapeKey, {}};
  if (modifiers != 0) return std::nullopt;
  const auto& meanings = AppSettings::switcherKeyMeanings();
  if (auto meaning = meanings.find(keyCode); meaning != meanings.end()) {
    return Problem{Problem::Kind::clash, std::string(meaning->second)};
  }
  if (AppSettings::bareKeyCodes().contains(keyCode)) return std::nullopt;
  return Problem{Problem::Kind::blocksTyping, {}};
}

std::optional<HotkeyBinding> HotkeyBinding::fromStoredSummon(const nlohmann::json& stored) {
  const auto pair = storedPair(stored);
  if (!pair) return std::nullopt;
  const int64_t modifiers = pair->flags & modifierMask;
  if (modifiers == 0) return std::nullopt;
  return HotkeyBinding{pair->keyCode, modifiers};
}

std::optional<HotkeyBinding> HotkeyBinding::fromStoredCancel(const nlohmann::json& stored) {
  const auto pair = storedPair(stored);
  if (!pair || pair->keyCode == escapeKeyCode) return std::nullopt;
  const int64_t modifiers = pair->flags & modifierMask;
  if (modifiers != 0) return HotkeyBinding{pair->keyCode, modifiers};
  if (AppSettings::switcherKeyMeanings().contains(pair->keyCode)) return std::nullopt;
  if (!AppSettings::bareKeyCodes().contains(pair->keyCode)) return std::nullopt;
  return HotkeyBinding{pair->keyCode, 0};
}

nlohmann::json HotkeyBinding::storedValue() const {
  return nlohmann::json{{"keyCode", keyCode}, {"flags", requiredFlags}};
}

std::string HotkeyBinding::displayString(const KeyNames& names) const {
  // As the keys are labelled on a Linux keyboard: Control is Ctrl, Option is Alt, Command is Super.
  std::string text;
  if (requiredFlags & controlFlag) text += "Ctrl+";
  if (requiredFlags & optionFlag) text += "Alt+";
  if (requiredFlags & commandFlag) text += "Super+";
  return text + names.name(keyCode);
}

std::optional<int64_t> HotkeyBinding::storedInteger(const nlohmann::json& value) {
  if (value.is_number_integer() && !value.is_number_unsigned()) return value.get<int64_t>();
  if (value.is_number_unsigned()) {
    const auto u = value.get<uint64_t>();
    if (u > static_cast<uint64_t>(INT64_MAX)) return std::nullopt;
    return static_cast<int64_t>(u);
  }
  if (value.is_number_float()) {
    const double d = value.get<double>();
    // 2^63 is exactly representable; every whole double below it fits.
    if (!std::isfinite(d) || std::trunc(d) != d || d < -9223372036854775808.0 ||
        d >= 9223372036854775808.0) {
      return std::nullopt;
    }
    return static_cast<int64_t>(d);
  }
  return std::nullopt;
}

}  // namespace quorvel
