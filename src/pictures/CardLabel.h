#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "windows/WindowState.h"

namespace quorvel {

// The key of a card's label plate: the application name over a second line that says where the
// window is (or which tab the card is). Equality and hashing cover all five fields; an absent
// optional equals only an absent one.
struct CardLabel {
  std::string appName;
  WindowState state = WindowState::onCurrentSpace;
  std::optional<int> spaceNumber;
  bool isPrivate = false;
  std::optional<std::string> tabTitle;  // set only on a browser-tab card's label

  bool operator==(const CardLabel&) const = default;
  size_t hashValue() const;
};

// The key of a title plate: the text it shows (already clipped, see clipped()).
struct CardTitle {
  std::string text;
  bool operator==(const CardTitle&) const = default;
};

// A card's title text: `title` trimmed of white space and newlines at both ends, or `fallback` (the
// application name) trimmed the same way when the title is blank. At most 40 user-perceived
// characters are kept: a longer text becomes its first 20, "…" and its last 19.
std::string clipped(std::string_view title, std::string_view fallback);

}  // namespace quorvel

template <>
struct std::hash<quorvel::CardLabel> {
  size_t operator()(const quorvel::CardLabel& label) const { return label.hashValue(); }
};
