#pragma once

#include <cstddef>
#include <map>
#include <optional>

#include "app/SwipeRecognizer.h"

namespace quorvel {

// The trackpad monitor's recognition state, shared between the main thread (settings) and the
// contact frames' thread under the monitor's gesture lock.
struct GestureState {
  std::optional<int> requiredFingers;  // none while the gesture is off
  SwipeRecognizer::Axis axis = SwipeRecognizer::Axis::vertical;
  std::map<size_t, SwipeRecognizer> recognizers;  // by device index
  bool hasSeenFrame = false;

  // Hands the current fingers and axis to every recognizer and starts each touch over; with the
  // gesture off, drops every recognizer.
  void applySettings() {
    if (!requiredFingers) {
      recognizers.clear();
      return;
    }
    for (auto& [index, r] : recognizers) {
      r.requiredFingers = *requiredFingers;
      r.axis = axis;
      r.origins.clear();
      r.isAbandoned = false;
      r.hasFired = false;
    }
  }
};

}  // namespace quorvel
