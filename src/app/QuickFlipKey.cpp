#include "app/QuickFlipKey.h"

#include "settings/SwitcherKeyCodes.h"

namespace quorvel {

std::optional<QuickFlipKey::Held> QuickFlipKey::heldElsewhere(
    const std::vector<std::optional<HotkeyBinding>>& shortcuts, const TakenCheck& taken) {
  if (!taken) return std::nullopt;
  for (const std::optional<HotkeyBinding>& shortcut : shortcuts) {
    if (!shortcut || shortcut->keyCode != HotkeyBinding::tabKeyCode) continue;
    // The grave key (50) before the section key (10): the key above Tab on most keyboards.
    const auto& codes = SwitcherKeyCodes::backwardKeyCodes();
    for (auto code = codes.rbegin(); code != codes.rend(); ++code) {
      HotkeyBinding flip = *shortcut;
      flip.keyCode = *code;
      if (std::optional<AdviceText> advice = taken(flip)) return Held{flip, std::move(*advice)};
    }
  }
  return std::nullopt;
}

}  // namespace quorvel
