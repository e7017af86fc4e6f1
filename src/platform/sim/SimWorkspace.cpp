#include "platform/sim/SimWorkspace.h"

#include "platform/sim/SimWorld.h"

namespace quorvel {

std::vector<RunningApplication> SimWorkspace::runningApplications() {
  return world_->read([&] {
    std::vector<RunningApplication> list;
    for (int32_t pid : world_->appOrder) list.push_back(world_->runningApplication(world_->apps.at(pid)));
    return list;
  });
}

std::optional<RunningApplication> SimWorkspace::frontmostApplication() {
  return world_->read([&]() -> std::optional<RunningApplication> {
    if (!world_->front) return std::nullopt;
    const SimAppState* app = world_->runningApp(*world_->front);
    if (!app) return std::nullopt;
    return world_->runningApplication(*app);
  });
}

Subscription SimWorkspace::addObserver(Event event, Observer observer) {
  return world_->workspaceObservers[static_cast<size_t>(event)].add(std::move(observer));
}

bool SimWorkspace::activate(int32_t pid, bool allWindows) {
  return world_->change([&](SimEffects& fx) { return world_->activate(pid, allWindows, fx); });
}

bool SimWorkspace::unhide(int32_t pid) {
  return world_->change([&](SimEffects& fx) { return world_->unhide(pid, fx); });
}

bool SimWorkspace::openApplication(const std::string& bundleURL, bool activates) {
  if (bundleURL.empty()) return false;
  return world_->change([&](SimEffects& fx) {
    world_->openRequests.push_back(SimOpenRequest{bundleURL, activates});
    for (int32_t pid : world_->appOrder) {
      const SimAppState* a = world_->runningApp(pid);
      if (a && a->bundleURL == bundleURL && activates) world_->activate(pid, false, fx);
    }
    return true;
  });
}

int32_t SimWorkspace::ownPid() {
  return world_->read([&] { return world_->ownPid; });
}

}  // namespace quorvel
