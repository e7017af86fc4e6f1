#pragma once

#include <cstddef>
#include <functional>
#include <optional>

#include "windows/WindowState.h"

namespace quorvel {

class Hasher;

// The part of a card that its status badge shows; the key of the status-badge textures (equal
// statuses share one badge). Equality and hashing cover all four fields; an absent desktop number
// differs from every present one.
struct CardStatus {
  WindowState state = WindowState::onCurrentSpace;
  std::optional<int> spaceNumber;
  bool isFullscreenSpace = false;
  bool isTab = false;

  bool operator==(const CardStatus&) const = default;
  // Feeds the state; a 1 and the number, or a lone 0 when there is none; the two flags.
  void hash(Hasher& hasher) const;
  size_t hashValue() const;
};

}  // namespace quorvel

template <>
struct std::hash<quorvel::CardStatus> {
  size_t operator()(const quorvel::CardStatus& status) const { return status.hashValue(); }
};
