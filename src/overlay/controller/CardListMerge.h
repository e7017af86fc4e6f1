#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "windows/ApplicationIdentity.h"
#include "windows/WindowCard.h"

namespace quorvel {

// How the overlay keeps the card list of a summon in step with the window registry while it is up:
// the refresh after a window action or after the summon, and a closed card taken out at once. Pure
// functions over card lists.
//
// The registry is expected to list each card id once; where an id repeats, its first card counts
// and the later ones are ignored, so the merged list never holds an id twice.
struct CardListMerge {
  // The summon's cards with the registry's fresh values, in the summon's order, without the cards
  // that left, followed by the newcomers in the registry's order (a window closed from the switcher
  // that is still there comes back at the end). With `scope`, only that application's fresh cards
  // count. None when nothing visible changed: the same ids in the same order, each with the same
  // state, title, frame, private and blur flags.
  static std::optional<std::vector<WindowCard>> merged(const std::vector<WindowCard>& shown,
                                                       const std::vector<WindowCard>& fresh,
                                                       const std::optional<ApplicationIdentity>& scope);
  // `shown` followed by the cards of `fresh` whose id is not yet among them, each id once.
  static std::vector<WindowCard> appendingNewcomers(const std::vector<WindowCard>& shown,
                                                    const std::vector<WindowCard>& fresh);
  // Whether the two cards look the same on screen (id, state, title, frame, private, blur).
  static bool looksTheSame(const WindowCard& a, const WindowCard& b);
  // The position of the first card with `id`, none when no card has it.
  static std::optional<int> indexOf(const std::vector<WindowCard>& cards, uint32_t id);
};

}  // namespace quorvel
