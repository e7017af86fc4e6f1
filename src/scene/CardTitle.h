#pragma once

#include <string>

namespace quorvel {

// The key of a card's title plate: the text shown (already shortened for the card). Titles are
// keyed by their text.
struct CardTitle {
  std::string text;

  bool operator==(const CardTitle&) const = default;
};

}  // namespace quorvel
