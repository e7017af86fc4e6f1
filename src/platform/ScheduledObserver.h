#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/Accessibility.h"

namespace quorvel {

// An Accessibility observer of one process that keeps its registrations, each an element (by a key
// the platform gives it) with a notification name and the caller's context, and delivers them on
// the executor it is scheduled on. A delivery waiting on that executor is dropped when, by the time
// it runs, the observer has been released, unscheduled or rescheduled, or the registration removed;
// otherwise the callback gets the context registered at that moment.
//
// The platforms check elements and notifications themselves and keep their registrations here.
class ScheduledObserver : public AXObserver, public std::enable_shared_from_this<ScheduledObserver> {
 public:
  using ElementKey = uint64_t;

  void schedule(Executor& runLoop) final;
  void unschedule() final;

  int32_t pid() const { return pid_; }

 protected:
  ScheduledObserver(int32_t pid, Callback callback);

  // notificationAlreadyRegistered when the element has that notification already.
  AXError registerNotification(ElementKey element, const std::string& notification, void* context);
  // notificationNotRegistered when the element does not have it.
  AXError unregisterNotification(ElementKey element, const std::string& notification);
  // Posts one delivery of `notification` about `subject`, for the first of `elements` that has it
  // registered; nothing while unscheduled or when none has.
  void deliver(const std::vector<ElementKey>& elements, const std::string& notification, const AXElementRef& subject);

 private:
  using Key = std::pair<ElementKey, std::string>;

  const int32_t pid_;
  const Callback callback_;
  std::mutex mutex_;
  std::map<Key, void*> registrations_;
  Executor* executor_ = nullptr;
  uint64_t generation_ = 0;
};

}  // namespace quorvel
