#include "base/SystemClock.h"

namespace quorvel {

Instant SystemClock::now() const {
  return std::chrono::duration_cast<Instant>(std::chrono::steady_clock::now().time_since_epoch());
}

std::chrono::system_clock::time_point SystemClock::wallNow() const {
  return std::chrono::system_clock::now();
}

SystemClock& SystemClock::shared() {
  static SystemClock clock;
  return clock;
}

}  // namespace quorvel
