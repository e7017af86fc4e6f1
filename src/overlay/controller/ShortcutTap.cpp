#include "overlay/controller/ShortcutTap.h"

#include <utility>

namespace quorvel {

bool ShortcutTap::released(Moment at) {
  const std::optional<Moment> press = std::exchange(press_, std::nullopt);
  if (!press) return false;
  if (press->keyTime && at.keyTime) {
    // The window system's times wrap around after 49.7 days: their difference does not.
    const uint32_t held = *at.keyTime - *press->keyTime;
    return held <= static_cast<uint32_t>(kLongestTap * 1000);
  }
  const double held = at.clock - press->clock;
  return held >= 0 && held <= kLongestTap;
}

}  // namespace quorvel
