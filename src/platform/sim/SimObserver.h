#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/ScheduledObserver.h"
#include "platform/sim/SimDesktop.h"

namespace quorvel {

class SimWorld;

// An Accessibility observer of one simulated application. Registrations are checked against the
// world; deliveries are posted to the executor the observer is scheduled on and dropped when it
// is unscheduled (or rescheduled) before they run.
class SimObserver final : public ScheduledObserver {
 public:
  SimObserver(std::weak_ptr<SimWorld> world, int32_t pid, Callback callback);

  AXError addNotification(const AXElementRef& element, const std::string& notification, void* context) override;
  AXError removeNotification(const AXElementRef& element, const std::string& notification) override;

  // Called by the world (outside its lock) when `notification` concerns one of `targets`.
  void deliver(const std::vector<SimElementId>& targets, const AXElementRef& subject, const std::string& notification);

 private:
  std::weak_ptr<SimWorld> world_;
};

}  // namespace quorvel
