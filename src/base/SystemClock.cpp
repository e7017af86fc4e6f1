#include "base/SystemClock.h"

namespace quorvel {

Instant SystemClock::now() const {
  return std::chrono::duration_cast<Instant>(std::chrono::steady_clock::now().time_since_epoch());
}

std::chrono::system_clock::time_point SystemClock::wallNow() const {
  return std::chrono::system_clock::now();
}

SystemClock& SystemClock::shared() {
  // Never destroyed: threads that are still running while the process ends read it.
  static SystemClock* const clock = new SystemClock;
  return *clock;
}

}  // namespace quorvel
