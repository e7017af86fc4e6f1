#pragma once

#include <functional>

#include "scene/SceneTypes.h"

namespace quorvel {

// Where the render thread's focus changes go: the overlay sets `handler` once when it builds the
// renderer, before the first present; the card renderer calls it on the main queue with the focused
// card's index and who moved the focus.
class FocusSink {
 public:
  std::function<void(int index, FocusChangeSource source)> handler;
};

}  // namespace quorvel
