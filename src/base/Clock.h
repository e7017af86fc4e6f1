#pragma once

#include <chrono>
#include <cstdint>

namespace quorvel {

// Durations and instants are nanoseconds. An instant is the time since the clock's own origin; only
// instants of one clock are compared.
using Duration = std::chrono::nanoseconds;
using Instant = std::chrono::nanoseconds;

constexpr double toSeconds(Duration d) { return std::chrono::duration<double>(d).count(); }
constexpr Duration fromSeconds(double s) {
  return std::chrono::duration_cast<Duration>(std::chrono::duration<double>(s));
}

// The clock every wait, sleep and time stamp of the system reads. The monotonic, media and
// continuous clocks of the system are one clock here: they tick together and never jump.
class Clock {
 public:
  virtual ~Clock() = default;
  // Monotonic time since the clock's origin (keeps counting while the machine sleeps).
  virtual Instant now() const = 0;
  // Wall-clock time, for dates that are shown or written to files.
  virtual std::chrono::system_clock::time_point wallNow() const = 0;
  // Media time in seconds, as the renderer and the wake counters stamp it.
  double mediaTime() const { return toSeconds(now()); }
};

}  // namespace quorvel
