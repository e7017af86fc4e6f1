#pragma once

#include <optional>
#include <string>

namespace quorvel {

// Keeps the frame-gap log to one line a second: a line within 1 s of the last written one is
// swallowed and counted; the next written line carries " (+N more in the last second)". Render
// thread only.
class HitchThrottle {
 public:
  // The line to write at media time `now` (with the suffix when lines were swallowed), or none.
  std::optional<std::string> admit(double now, const std::string& line);

  std::optional<double> lastLine() const { return lastLine_; }
  int swallowed() const { return swallowed_; }

 private:
  std::optional<double> lastLine_;
  int swallowed_ = 0;
};

}  // namespace quorvel
