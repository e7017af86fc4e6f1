#pragma once

#include <memory>
#include <vector>

#include "scene/CardSnapshot.h"

namespace quorvel {

// The scene's card list: one immutable array shared by the storage, the frames the render thread
// draws from and the probes, so copying it is a reference-count bump, never an allocation. Never
// null (`SceneCards::empty()` stands for no cards).
using SceneCardList = std::shared_ptr<const std::vector<CardSnapshot>>;

struct SceneCards {
  static const SceneCardList& empty() {
    // Never destroyed: a render frame may still copy it while the process ends.
    static const auto* const list = new SceneCardList(std::make_shared<const std::vector<CardSnapshot>>());
    return *list;
  }
  static SceneCardList make(std::vector<CardSnapshot> cards) {
    if (cards.empty()) return empty();
    return std::make_shared<const std::vector<CardSnapshot>>(std::move(cards));
  }
};

}  // namespace quorvel
