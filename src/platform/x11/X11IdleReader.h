#pragma once

#include <optional>

namespace quorvel {

class X11Connection;

// How long the user has left keyboard and pointer alone, from the MIT-SCREEN-SAVER extension.
class X11IdleReader {
 public:
  explicit X11IdleReader(X11Connection& connection);

  // Seconds since the last input event of any device; absent when the server lacks the extension
  // or does not answer.
  std::optional<double> idleSeconds();

 private:
  X11Connection& connection_;
  std::optional<bool> available_;
};

}  // namespace quorvel
