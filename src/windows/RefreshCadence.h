#pragma once

#include <optional>

#include "base/Clock.h"

namespace quorvel {

class InputIdle;

// How long the registry's refresh loop sleeps between passes: 2 s while the user has touched an
// input device, or an application was launched, quit or activated, within the last minute; 10 s
// after a minute of quiet on both.
class RefreshCadence {
 public:
  static constexpr Duration kFast = std::chrono::seconds(2);
  static constexpr Duration kSlow = std::chrono::seconds(10);
  static constexpr double kQuietSeconds = 60;

  // Seconds since the user's last input event: the smaller of the HID-system and the combined
  // readings that are finite and not negative; none when neither is.
  static std::optional<double> idleSeconds(InputIdle& inputIdle);
  // The interval for the idle time and the whole seconds since the last workspace notification
  // (+infinity when none has been seen).
  static Duration interval(double idleSeconds, double secondsSinceNotification);
};

}  // namespace quorvel
