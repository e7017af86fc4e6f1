#pragma once

#include <optional>

namespace quorvel {

// How far along an arrangement, in places from the focus, cards and their chrome are drawn (none =
// everything; when unset the arrangement's own reach applies), the length of the fade at that
// reach, and the least chrome weight.
struct TailTuning {
  std::optional<float> drawPlaces = 19.777138f;
  std::optional<float> chromePlaces = 2.3061056f;
  float fadePlaces = 4.0f;
  float chromeFloor = 0.0f;

  bool operator==(const TailTuning&) const = default;
};

}  // namespace quorvel
