#pragma once

#include <memory>

#include "platform/OwnApplication.h"

namespace quorvel {

class SimWorld;

// The program's own application object on the simulated desktop: its windows are the simulated
// windows of the program's own process (SimDesktopOptions::ownPid), listed in the order they were
// opened. Activating ignores other applications: it brings the own application forward when a test
// launched it, and is counted either way.
class SimOwnApplication final : public OwnApplication {
 public:
  explicit SimOwnApplication(std::shared_ptr<SimWorld> world) : world_(std::move(world)) {}
  std::vector<OwnWindow> windows() override;
  bool unminimize(uint32_t number) override;
  bool minimize(uint32_t number) override;
  bool performClose(uint32_t number) override;
  bool raiseAndFocus(uint32_t number) override;
  void activateProgram() override;

 private:
  std::shared_ptr<SimWorld> world_;
};

}  // namespace quorvel
