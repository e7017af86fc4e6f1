#include "platform/ScheduledObserver.h"

#include "base/Executor.h"

namespace quorvel {

ScheduledObserver::ScheduledObserver(int32_t pid, Callback callback) : pid_(pid), callback_(std::move(callback)) {}

void ScheduledObserver::schedule(Executor& runLoop) {
  std::lock_guard lock(mutex_);
  executor_ = &runLoop;
  ++generation_;
}

void ScheduledObserver::unschedule() {
  std::lock_guard lock(mutex_);
  executor_ = nullptr;
  ++generation_;
}

AXError ScheduledObserver::registerNotification(ElementKey element, const std::string& notification, void* context) {
  std::lock_guard lock(mutex_);
  return registrations_.try_emplace(Key{element, notification}, context).second
             ? AXError::success
             : AXError::notificationAlreadyRegistered;
}

AXError ScheduledObserver::unregisterNotification(ElementKey element, const std::string& notification) {
  std::lock_guard lock(mutex_);
  return registrations_.erase(Key{element, notification}) ? AXError::success : AXError::notificationNotRegistered;
}

void ScheduledObserver::deliver(const std::vector<ElementKey>& elements, const std::string& notification,
                                const AXElementRef& subject) {
  std::lock_guard lock(mutex_);
  if (!executor_) return;
  for (ElementKey element : elements) {
    Key key{element, notification};
    if (!registrations_.contains(key)) continue;
    executor_->post([weak = weak_from_this(), key = std::move(key), subject, generation = generation_] {
      auto self = weak.lock();
      if (!self) return;
      void* context = nullptr;
      {
        std::lock_guard inner(self->mutex_);
        if (!self->executor_ || self->generation_ != generation) return;
        auto it = self->registrations_.find(key);
        if (it == self->registrations_.end()) return;
        context = it->second;
      }
      self->callback_(subject, key.second, context);
    });
    return;  // one delivery per notification
  }
}

}  // namespace quorvel
