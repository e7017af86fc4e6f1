#pragma once

#include <memory>

#include "platform/WindowServer.h"

namespace quorvel {

class SimWorld;

// The public window list and display list of the simulated desktop.
class SimWindowServer final : public WindowServer {
 public:
  explicit SimWindowServer(std::shared_ptr<SimWorld> world) : world_(std::move(world)) {}

  std::optional<std::vector<WindowListEntry>> onScreenWindows() override;
  std::optional<std::vector<uint32_t>> onScreenWindowNumbers() override;
  std::optional<std::vector<uint32_t>> activeDisplays() override;
  std::optional<Rect> displayBounds(uint32_t displayID) override;
  bool preflightScreenCaptureAccess() override;
  bool requestScreenCaptureAccess() override;
  // What SimDesktop::reportFocus set; by default none, as on the platform the desktop imitates.
  std::optional<WindowFocus> focus() override;
  std::optional<uint32_t> frontWindowOfApplication(int32_t pid) override;

 private:
  std::shared_ptr<SimWorld> world_;
};

}  // namespace quorvel
