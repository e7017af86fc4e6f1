#pragma once

#include <memory>

#include "platform/DesktopServer.h"

namespace quorvel {

class SimWorld;

// The window server's desktop calls over the simulated displays and desktops.
class SimDesktopServer final : public DesktopServer {
 public:
  explicit SimDesktopServer(std::shared_ptr<SimWorld> world) : world_(std::move(world)) {}

  bool isAvailable(Group group) override;
  std::optional<std::vector<ManagedDisplaySpaces>> copyManagedDisplaySpaces() override;
  std::optional<std::vector<uint32_t>> copyWindowsOnSpace(int64_t spaceID, uint32_t options) override;
  std::optional<std::vector<int64_t>> copySpacesForWindows(const std::vector<uint32_t>& windows, uint32_t mask) override;
  bool moveWindowsToSpace(const std::vector<uint32_t>& windows, int64_t spaceID) override;
  int32_t setWindowBackgroundBlur(uint32_t window, int32_t radius) override;

 private:
  std::shared_ptr<SimWorld> world_;
};

}  // namespace quorvel
