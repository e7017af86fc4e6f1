#pragma once

namespace quorvel {

// The kind of a summon press: a summon shortcut, or the key above Tab standing in for Shift-Tab.
enum class HotkeyPress : int { shortcut = 0, backward = 1 };

}  // namespace quorvel
