#include "scene/FrameCadence.h"

#include <cmath>

namespace quorvel {

FrameCadence::Classification FrameCadence::record(double dt) {
  if (!(dt > 0) || !std::isfinite(dt)) return {};
  const int heldBefore = filled_;
  samples_[static_cast<size_t>(next_)] = dt;
  next_ = (next_ + 1) % kRing;
  if (filled_ < kRing) ++filled_;

  ++sinceRecompute_;
  if (heldBefore < 5 || sinceRecompute_ >= 10) {
    sinceRecompute_ = 0;
    recompute();
  }

  Kind kind;
  if (heldBefore >= 5 && stableRecomputes_ >= 4 && cached_ > 0) {
    const double ratio = dt / cached_;
    kind = ratio > 2.5 ? Kind::severe : ratio > 1.75 ? Kind::hitch : Kind::normal;
  } else if (dt <= 0.1) {
    kind = Kind::normal;
  } else {
    const double base = cached_ > 0 ? cached_ : prior_;
    if (!(base > 0)) return {};
    kind = dt / base > 2.5 ? Kind::severe : Kind::hitch;
  }
  return {kind, kind != Kind::normal && dt > 0.05};
}

void FrameCadence::recompute() {
  if (filled_ < 5) {
    cached_ = prior_;
    return;
  }
  for (int i = 0; i < filled_; ++i) scratch_[static_cast<size_t>(i)] = samples_[static_cast<size_t>(i)];
  for (int i = 1; i < filled_; ++i) {
    const double value = scratch_[static_cast<size_t>(i)];
    int j = i - 1;
    while (j >= 0 && scratch_[static_cast<size_t>(j)] > value) {
      scratch_[static_cast<size_t>(j + 1)] = scratch_[static_cast<size_t>(j)];
      --j;
    }
    scratch_[static_cast<size_t>(j + 1)] = value;
  }
  const double median = scratch_[static_cast<size_t>(filled_ / 2)];
  if (cached_ > 0 && std::fabs(median - cached_) <= 0.25 * cached_) {
    ++stableRecomputes_;
  } else {
    stableRecomputes_ = 0;
  }
  cached_ = median;
}

}  // namespace quorvel
