#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/Accessibility.h"
#include "platform/sim/SimDesktop.h"

namespace quorvel {

class SimWorld;

// An Accessibility observer of one simulated application. Registrations are checked against the
// world; deliveries are posted to the executor the observer is scheduled on and dropped when it
// is unscheduled (or rescheduled) before they run.
class SimObserver final : public AXObserver, public std::enable_shared_from_this<SimObserver> {
 public:
  SimObserver(std::weak_ptr<SimWorld> world, int32_t pid, Callback callback);

  AXError addNotification(const AXElementRef& element, const std::string& notification, void* context) override;
  AXError removeNotification(const AXElementRef& element, const std::string& notification) override;
  void schedule(Executor& runLoop) override;
  void unschedule() override;

  // Called by the world (outside its lock) when `notification` concerns one of `targets`.
  void deliver(const std::vector<SimElementId>& targets, const AXElementRef& subject, const std::string& notification);

 private:
  using Key = std::pair<SimElementId, std::string>;

  std::weak_ptr<SimWorld> world_;
  const int32_t pid_;
  const Callback callback_;
  std::mutex mutex_;
  std::map<Key, void*> registrations_;
  Executor* executor_ = nullptr;
  uint64_t generation_ = 0;
};

}  // namespace quorvel
