#include "platform/sim/SimAppIcons.h"

#include "platform/Workspace.h"

namespace quorvel {

void SimAppIcons::setIcon(int32_t pid, AppIcon icon) {
  std::lock_guard lock(mutex_);
  icons_.insert_or_assign(pid, std::move(icon));
}

void SimAppIcons::removeIcon(int32_t pid) {
  std::lock_guard lock(mutex_);
  icons_.erase(pid);
}

AppIcon SimAppIcons::solid(uint32_t argb, int side) {
  AppIcon icon;
  icon.width = side;
  icon.height = side;
  icon.argb.assign(static_cast<size_t>(side) * static_cast<size_t>(side), argb);
  return icon;
}

std::optional<AppIcon> SimAppIcons::icon(int32_t pid) {
  bool running = false;
  for (const RunningApplication& app : workspace_.runningApplications()) running = running || app.pid == pid;
  std::lock_guard lock(mutex_);
  ++lookups_;
  if (!running) return std::nullopt;
  auto it = icons_.find(pid);
  if (it == icons_.end()) return std::nullopt;
  return it->second;
}

size_t SimAppIcons::lookups() const {
  std::lock_guard lock(mutex_);
  return lookups_;
}

}  // namespace quorvel
