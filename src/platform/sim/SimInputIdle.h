#pragma once

#include <memory>

#include "platform/InputIdle.h"

namespace quorvel {

class SimWorld;

// Idle time since the last simulated input, growing with the runtime's clock.
class SimInputIdle final : public InputIdle {
 public:
  explicit SimInputIdle(std::shared_ptr<SimWorld> world) : world_(std::move(world)) {}
  std::optional<double> secondsSinceLastEvent(Source source) override;

 private:
  std::shared_ptr<SimWorld> world_;
};

}  // namespace quorvel
