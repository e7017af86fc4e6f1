#include "platform/sim/SimObserver.h"

#include "platform/sim/SimElement.h"
#include "platform/sim/SimWorld.h"

namespace quorvel {

SimObserver::SimObserver(std::weak_ptr<SimWorld> world, int32_t pid, Callback callback)
    : world_(std::move(world)), pid_(pid), callback_(std::move(callback)) {}

AXError SimObserver::addNotification(const AXElementRef& element, const std::string& notification, void* context) {
  auto world = world_.lock();
  if (!world) return AXError::invalidObserver;
  const auto* sim = dynamic_cast<const SimElement*>(element.get());
  if (!sim || sim->pid() != pid_) return AXError::illegalArgument;
  const AXError checked = world->change([&](SimEffects&) {
    SimNode* node = nullptr;
    const AXError entered = world->enterCall(element, node);
    if (entered != AXError::success) return entered;
    const SimAppState* app = world->runningApp(pid_);
    if (app && app->notificationError != AXError::success) return app->notificationError;
    return AXError::success;
  });
  if (checked != AXError::success) return checked;
  std::lock_guard guard(mutex_);
  auto [it, inserted] = registrations_.try_emplace(Key{sim->id(), notification}, context);
  return inserted ? AXError::success : AXError::notificationAlreadyRegistered;
}

AXError SimObserver::removeNotification(const AXElementRef& element, const std::string& notification) {
  const auto* sim = dynamic_cast<const SimElement*>(element.get());
  if (!sim) return AXError::illegalArgument;
  std::lock_guard guard(mutex_);
  return registrations_.erase(Key{sim->id(), notification}) ? AXError::success : AXError::notificationNotRegistered;
}

void SimObserver::schedule(Executor& runLoop) {
  std::lock_guard guard(mutex_);
  executor_ = &runLoop;
  ++generation_;
}

void SimObserver::unschedule() {
  std::lock_guard guard(mutex_);
  executor_ = nullptr;
  ++generation_;
}

void SimObserver::deliver(const std::vector<SimElementId>& targets, const AXElementRef& subject,
                          const std::string& notification) {
  std::lock_guard guard(mutex_);
  if (!executor_) return;
  for (SimElementId target : targets) {
    Key key{target, notification};
    if (!registrations_.count(key)) continue;
    std::weak_ptr<SimObserver> weak = weak_from_this();
    executor_->post([weak, key, subject, generation = generation_] {
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
