#pragma once

namespace quorvel {

// The card index range of one pile, both ends inclusive.
struct CardPile {
  int first = 0;
  int last = 0;

  bool operator==(const CardPile&) const = default;
};

}  // namespace quorvel
