#pragma once

#include <memory>

#include "platform/InputIdle.h"

namespace quorvel {

class X11Backend;

// Time since the user's last input, from the MIT-SCREEN-SAVER extension. X keeps one idle time for
// all devices, so both sources answer the same; none when the server lacks the extension.
class X11InputIdle final : public InputIdle {
 public:
  explicit X11InputIdle(std::shared_ptr<X11Backend> backend);

  std::optional<double> secondsSinceLastEvent(Source source) override;

 private:
  std::shared_ptr<X11Backend> backend_;
};

}  // namespace quorvel
