#pragma once

#include <functional>
#include <optional>
#include <vector>

#include "app/ShortcutAdvice.h"
#include "settings/HotkeyBinding.h"

namespace quorvel {

// The key above Tab pressed with a summon shortcut's modifiers (Alt+` for Alt+Tab): while the
// switcher is hidden it flips straight back to the last window, inside it it steps backward. Whether
// another program holds it, and what to tell the user then, is asked here once for every place that
// says so (the tour's keys page, the Shortcuts pane). Plain logic: it runs on the caller's thread
// and asks nothing but the check it is given; whether the flip is on is the caller's to decide.
class QuickFlipKey {
 public:
  // Whether another program holds a combination: the advice that says whose it is and how to free
  // it, none while it is free.
  using TakenCheck = std::function<std::optional<AdviceText>(const HotkeyBinding&)>;

  struct Held {
    HotkeyBinding keys;  // the combination another program holds
    AdviceText advice;   // whose it is and how to free it, as the check said it
    bool operator==(const Held&) const = default;
  };

  // The first combination of the key above Tab with the modifiers of one of `shortcuts` on Tab
  // (unset ones and those on other keys are skipped) that another program holds, with its advice;
  // none while every one is free, without a shortcut on Tab, or without a check. Of the two keys
  // that may lie above Tab, the grave key is asked before the ISO keyboards' section key.
  static std::optional<Held> heldElsewhere(const std::vector<std::optional<HotkeyBinding>>& shortcuts,
                                           const TakenCheck& taken);
};

}  // namespace quorvel
