#pragma once

#include <optional>

namespace quorvel {

// Time since the user's last input event.
class InputIdle {
 public:
  enum class Source { hidSystem, combinedSession };
  virtual ~InputIdle() = default;
  // Seconds since the last event of any input type for the given source; none when unavailable.
  virtual std::optional<double> secondsSinceLastEvent(Source source) = 0;
};

}  // namespace quorvel
