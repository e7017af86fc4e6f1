#include "app/HotkeyMatchState.h"

#include <algorithm>

namespace quorvel {

HotkeyMatchEntry HotkeyMatchEntry::from(const HotkeyBinding& binding, AppSettings::HotkeyScope scope) {
  const auto required = static_cast<uint64_t>(binding.requiredFlags) & KeyFlags::shortcutModifiers;
  return {binding.keyCode, required, ~required & KeyFlags::shortcutModifiers, scope};
}

TapKeyDecision HotkeyMatchState::matchKeyDown(int64_t k, uint64_t f, bool keyboardHeld) {
  if (isSuspended) return TapKeyDecision::pass();

  const uint64_t held = f & KeyFlags::shortcutModifiers;
  // From a summon's press until the switcher's window takes the keyboard, every key comes here and
  // no window sees it: Escape cancels then as it does in the switcher, with the shortcut's modifiers
  // held or not, in the order typed (the release after it must not commit).
  if (k == escapeKeyCode && keyboardHeld) return TapKeyDecision::dismiss(DismissKeyRoute::tapMustHandleIt);
  if (overlay) {
    bool dismiss = k == escapeKeyCode && held == 0;
    if (!dismiss && overlay->cancel && k == overlay->cancel->keyCode) {
      const auto required = static_cast<uint64_t>(overlay->cancel->requiredFlags);
      dismiss = (f & required) == required && (held & ~required) == 0;
    }
    if (dismiss) {
      return TapKeyDecision::dismiss(overlay->holdsKeyboard ? DismissKeyRoute::localRouteOwnsIt
                                                            : DismissKeyRoute::tapMustHandleIt);
    }
  }

  if (passThroughActive || entries.empty()) return TapKeyDecision::pass();

  const auto& backward = AppSettings::backwardKeyCodes();
  for (const auto& entry : entries) {
    if (!entry.modifiersSatisfied(f)) continue;
    if (k == entry.keyCode) {
      armedFlags = entry.requiredFlags;
      return TapKeyDecision::pressOf((f & KeyFlags::shift) ? -1 : 1, HotkeyPress::shortcut, entry.scope);
    }
    if (backward.count(k) && entry.keyCode == HotkeyBinding::tabKeyCode && graveCyclesBackward) {
      armedFlags = entry.requiredFlags;
      return TapKeyDecision::pressOf(-1, HotkeyPress::backward, entry.scope);
    }
  }
  // Tab steps while a summon's modifiers are held, whatever the shortcut's own key (Ctrl+Alt+K), as
  // the switcher's keys page says.
  if (k == HotkeyBinding::tabKeyCode && armedFlags) {
    for (const auto& entry : entries) {
      if (entry.requiredFlags == *armedFlags && entry.modifiersSatisfied(f))
        return TapKeyDecision::pressOf((f & KeyFlags::shift) ? -1 : 1, HotkeyPress::shortcut, entry.scope);
    }
  }
  return TapKeyDecision::pass();
}

FlagsDecision HotkeyMatchState::matchFlags(uint64_t f, double now) {
  FlagsDecision decision;
  if (armedFlags && (*armedFlags & ~f) != 0) {
    armedFlags.reset();
    decision.released = true;
  }
  const bool satisfied = !isSuspended && !passThroughActive &&
                         std::any_of(entries.begin(), entries.end(),
                                     [f](const HotkeyMatchEntry& e) { return e.modifiersSatisfied(f); });
  if (satisfied && !overlay && (!prewarm.lastWarm || now - *prewarm.lastWarm >= PrewarmGate::interval)) {
    prewarm.lastWarm = now;
    decision.prewarm = true;
  }
  return decision;
}

std::vector<KeyInterest> HotkeyMatchState::interest() const {
  std::vector<KeyInterest> keys;
  auto add = [&keys](int64_t keyCode, uint64_t flags) {
    const KeyInterest key{keyCode, flags & KeyFlags::shortcutModifiers};
    if (std::find(keys.begin(), keys.end(), key) == keys.end()) keys.push_back(key);
  };
  for (const auto& entry : entries) {
    add(entry.keyCode, entry.requiredFlags);
    if (graveCyclesBackward && entry.keyCode == HotkeyBinding::tabKeyCode) {
      for (int64_t code : AppSettings::backwardKeyCodes()) add(code, entry.requiredFlags);
    }
  }
  return keys;
}

}  // namespace quorvel
