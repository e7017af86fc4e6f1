#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/Clock.h"
#include "base/Subscription.h"

namespace quorvel {

enum class ActivationPolicy { regular, accessory, prohibited };

struct RunningApplication {
  int32_t pid = 0;
  std::optional<std::string> bundleIdentifier;
  std::optional<std::string> localizedName;
  // Where the application's bundle lies, when it has one (what opening it again starts).
  std::optional<std::string> bundleURL;
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
  // `didChangeWindows`: a running application opened or closed a window. Posted only where no
  // other notification says so (an X session); a launch or a termination is not posted again as one.
  enum class Event { didActivateApplication, didLaunchApplication, didTerminateApplication,
                     didHideApplication, didUnhideApplication, didChangeWindows };
  static constexpr size_t kEventCount = 6;
  using Observer = std::function<void(Event, const RunningApplication&)>;

  virtual ~Workspace() = default;
  // In the workspace's order.
  virtual std::vector<RunningApplication> runningApplications() = 0;
  virtual std::optional<RunningApplication> frontmostApplication() = 0;
  // Observers of one event are called on the main queue while their subscription lives.
  virtual Subscription addObserver(Event event, Observer observer) = 0;
  // Activates an application (brings all its windows forward when `allWindows`).
  virtual bool activate(int32_t pid, bool allWindows) = 0;
  virtual bool unhide(int32_t pid) = 0;
  // Opens the application at `bundleURL` (a running one comes forward, activated when
  // `activates`); true when the request was made.
  virtual bool openApplication(const std::string& bundleURL, bool activates) = 0;
  // This program's own process id.
  virtual int32_t ownPid() = 0;
};

}  // namespace quorvel
