#pragma once

#include <array>
#include <cstdint>

namespace quorvel {

// Learns the display's usual frame interval from the last 31 intervals (their median, recomputed at
// most every 10 frames once warmed up) and classifies each new interval as normal, a hitch or a
// severe hitch; a hitch of more than 0.05 s is also "long" (it gets a frame-gap line). Owned by the
// card renderer and touched only by the render thread; it never allocates.
class FrameCadence {
 public:
  static constexpr int kRing = 31;

  enum class Kind : uint8_t { normal = 0, hitch = 1, severe = 2 };
  struct Classification {
    Kind kind = Kind::normal;
    bool isLong = false;  // only a hitch or a severe hitch is long: exactly when dt > 0.05 s
    bool operator==(const Classification&) const = default;
  };

  // `prior`: the interval assumed before enough samples exist (seconds).
  explicit FrameCadence(double prior = 1.0 / 60) : prior_(prior), cached_(prior) {}

  Classification record(double interval);

  double prior() const { return prior_; }
  double cadence() const { return cached_; }  // the current estimate (seconds)
  int filled() const { return filled_; }
  int stableRecomputes() const { return stableRecomputes_; }

 private:
  void recompute();

  double prior_;
  std::array<double, kRing> samples_{};
  int next_ = 0;
  int filled_ = 0;
  int sinceRecompute_ = 0;
  std::array<double, kRing> scratch_{};
  double cached_;
  int stableRecomputes_ = 0;
};

}  // namespace quorvel
