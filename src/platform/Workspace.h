#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/Clock.h"

namespace quorvel {

enum class ActivationPolicy { regular, accessory, prohibited };

struct RunningApplication {
  int32_t pid = 0;
  std::optional<std::string> bundleIdentifier;
  std::optional<std::string> localizedName;
  bool isHidden = false;
  bool isActive = false;
  ActivationPolicy activationPolicy = ActivationPolicy::regular;
  // In a notification: when the platform saw the change it reports, on the runtime's clock (a
  // notification may be delivered well after that). None when unknown, and in every list.
  std::optional<Instant> noticedAt;
};

// The running applications and their notifications.
class Workspace {
 public:
  enum class Event { didActivateApplication, didLaunchApplication, didTerminateApplication,
                     didHideApplication, didUnhideApplication };
  using Observer = std::function<void(Event, const RunningApplication&)>;

  virtual ~Workspace() = default;
  // In the workspace's order.
  virtual std::vector<RunningApplication> runningApplications() = 0;
  virtual std::optional<RunningApplication> frontmostApplication() = 0;
  // Observers are called on the main queue.
  virtual uint64_t addObserver(Event event, Observer observer) = 0;
  virtual void removeObserver(uint64_t token) = 0;
  // Activates an application (brings all its windows forward when `allWindows`).
  virtual bool activate(int32_t pid, bool allWindows) = 0;
  virtual bool unhide(int32_t pid) = 0;
  // This program's own process id.
  virtual int32_t ownPid() = 0;
};

}  // namespace quorvel
