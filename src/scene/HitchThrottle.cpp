#include "scene/HitchThrottle.h"

namespace quorvel {

std::optional<std::string> HitchThrottle::admit(double now, const std::string& line) {
  if (lastLine_ && now - *lastLine_ < 1.0) {
    ++swallowed_;
    return std::nullopt;
  }
  lastLine_ = now;
  std::string written = line;
  if (swallowed_ >= 1) written += " (+" + std::to_string(swallowed_) + " more in the last second)";
  swallowed_ = 0;
  return written;
}

}  // namespace quorvel
