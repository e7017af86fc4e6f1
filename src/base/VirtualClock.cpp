#include "base/VirtualClock.h"

namespace quorvel {

VirtualClock::VirtualClock(Instant start, std::chrono::system_clock::time_point wallStart)
    : nanos_(start.count()), start_(start), wallStart_(wallStart) {}

Instant VirtualClock::now() const { return Instant{nanos_.load(std::memory_order_acquire)}; }

std::chrono::system_clock::time_point VirtualClock::wallNow() const {
  return wallStart_ + std::chrono::duration_cast<std::chrono::system_clock::duration>(now() - start_);
}

void VirtualClock::setNow(Instant instant) {
  int64_t current = nanos_.load(std::memory_order_acquire);
  while (instant.count() > current &&
         !nanos_.compare_exchange_weak(current, instant.count(), std::memory_order_acq_rel)) {
  }
}

}  // namespace quorvel
