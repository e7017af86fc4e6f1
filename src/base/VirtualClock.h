#pragma once

#include <atomic>

#include "base/Clock.h"

namespace quorvel {

// A clock that moves only when told to. Tests drive it through ManualLoop::advance, which also runs
// the work that falls due. Reading it is safe from any thread.
class VirtualClock final : public Clock {
 public:
  explicit VirtualClock(Instant start = Instant{std::chrono::hours(1)},
                        std::chrono::system_clock::time_point wallStart =
                            std::chrono::system_clock::time_point{std::chrono::seconds(1'800'000'000)});
  Instant now() const override;
  std::chrono::system_clock::time_point wallNow() const override;
  // Moves the clock to `instant`; an instant in the past is ignored (the clock never goes back).
  void setNow(Instant instant);
  void advance(Duration d) { setNow(now() + d); }

 private:
  std::atomic<int64_t> nanos_;
  const Instant start_;
  const std::chrono::system_clock::time_point wallStart_;
};

}  // namespace quorvel
