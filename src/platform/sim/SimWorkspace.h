#pragma once

#include <memory>

#include "platform/Workspace.h"

namespace quorvel {

class SimWorld;

// The running simulated applications; notifications arrive on the runtime's main queue.
class SimWorkspace final : public Workspace {
 public:
  explicit SimWorkspace(std::shared_ptr<SimWorld> world) : world_(std::move(world)) {}

  std::vector<RunningApplication> runningApplications() override;
  std::optional<RunningApplication> frontmostApplication() override;
  Subscription addObserver(Event event, Observer observer) override;
  bool activate(int32_t pid, bool allWindows) override;
  bool unhide(int32_t pid) override;
  // Recorded (SimDesktop::openRequests); a running application with that bundle comes forward
  // when asked to activate. Nothing is launched: the simulated desktop has no bundles to start.
  bool openApplication(const std::string& bundleURL, bool activates) override;
  int32_t ownPid() override;

 private:
  std::shared_ptr<SimWorld> world_;
};

}  // namespace quorvel
