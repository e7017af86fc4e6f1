#pragma once

#include "base/Clock.h"

namespace quorvel {

// CLOCK_BOOTTIME: monotonic time that keeps counting while the machine is suspended, for waits
// that must count a suspended spell (the idle trim of the window pictures).
class BootTimeClock final : public Clock {
 public:
  Instant now() const override;
  std::chrono::system_clock::time_point wallNow() const override;
  static BootTimeClock& shared();
};

}  // namespace quorvel
