#include "platform/sim/SimInputIdle.h"

#include "platform/sim/SimWorld.h"

namespace quorvel {

std::optional<double> SimInputIdle::secondsSinceLastEvent(Source source) {
  const Instant now = world_->runtime.clock().now();
  return world_->read([&]() -> std::optional<double> {
    auto it = world_->lastInput.find(source);
    if (it == world_->lastInput.end() || !it->second) return std::nullopt;
    return toSeconds(now - *it->second);
  });
}

}  // namespace quorvel
