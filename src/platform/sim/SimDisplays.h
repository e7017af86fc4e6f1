#pragma once

#include <memory>

#include "platform/Displays.h"

namespace quorvel {

class SimWorld;

// The display service: the attached displays in bottom-left coordinates, main display first.
class SimDisplays final : public Displays {
 public:
  explicit SimDisplays(std::shared_ptr<SimWorld> world) : world_(std::move(world)) {}

  std::vector<ScreenInfo> screens() override;
  uint32_t mainDisplayID() override;
  bool screensHaveSeparateSpaces() override;

 private:
  std::shared_ptr<SimWorld> world_;
};

}  // namespace quorvel
