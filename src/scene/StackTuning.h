#pragma once

namespace quorvel {

// The look of the cards inside a pile: how far each card behind the front one peeks out sideways,
// how much it turns per rank, how many ranks are drawn, and the time in which a pile folds back
// (or opens again) when a hop across it begins (or ends).
struct StackTuning {
  float peekWidth = 0.021781798f;
  float fanPerRank = 0.13962634f;  // 8° in radians
  float drawRanks = 8.0f;
  double handBackTime = 0.12;  // seconds

  bool operator==(const StackTuning&) const = default;
};

}  // namespace quorvel
