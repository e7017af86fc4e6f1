#pragma once

#include <array>
#include <string_view>

namespace quorvel {

// The window actions offered on a card.
enum class CardAction { close, minimize };

inline constexpr std::array<CardAction, 2> kAllCardActions = {CardAction::close, CardAction::minimize};

constexpr std::string_view cardActionName(CardAction action) {
  return action == CardAction::close ? "close" : "minimize";
}

}  // namespace quorvel
