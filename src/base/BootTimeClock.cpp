#include "base/BootTimeClock.h"

#include <time.h>

namespace quorvel {

Instant BootTimeClock::now() const {
  timespec ts{};
  if (clock_gettime(CLOCK_BOOTTIME, &ts) != 0) clock_gettime(CLOCK_MONOTONIC, &ts);
  return std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec);
}

std::chrono::system_clock::time_point BootTimeClock::wallNow() const {
  return std::chrono::system_clock::now();
}

BootTimeClock& BootTimeClock::shared() {
  static BootTimeClock clock;
  return clock;
}

}  // namespace quorvel
