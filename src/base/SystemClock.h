#pragma once

#include "base/Clock.h"

namespace quorvel {

// The real clock: std::chrono::steady_clock and the system clock.
class SystemClock final : public Clock {
 public:
  Instant now() const override;
  std::chrono::system_clock::time_point wallNow() const override;
  static SystemClock& shared();
};

}  // namespace quorvel
