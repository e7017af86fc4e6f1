#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quorvel {

// What the settings window calls each setting when a sentence names it: the label of its row turned
// into a noun phrase ("the app icons" for "showAppIcons"), so a message speaks of settings the way
// the window shows them. Settings without a row here are named as the window would name them.
class SettingNames {
 public:
  // The words for `key`; none for a key that is no setting.
  static std::optional<std::string> inSentence(std::string_view key);
};

}  // namespace quorvel
