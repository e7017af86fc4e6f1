#include "platform/x11/X11Observer.h"

#include "base/Executor.h"
#include "platform/x11/X11Element.h"

namespace quorvel {

X11Observer::X11Observer(int32_t pid, Callback callback) : pid_(pid), callback_(std::move(callback)) {}

std::optional<X11Observer::Key> X11Observer::keyOf(const AXElementRef& element, const std::string& notification,
                                                   int32_t pid, AXError& error) {
  const auto* x = dynamic_cast<const X11Element*>(element.get());
  if (!x || x->pid() != pid) {
    error = AXError::illegalArgument;
    return std::nullopt;
  }
  error = AXError::success;
  return Key{{static_cast<int>(x->kind()), x->window()}, notification};
}

AXError X11Observer::addNotification(const AXElementRef& element, const std::string& notification, void* context) {
  AXError error = AXError::success;
  const std::optional<Key> key = keyOf(element, notification, pid_, error);
  if (!key) return error;
  const auto* x = static_cast<const X11Element*>(element.get());
  if (notification != kFocusedWindowChanged || x->kind() != X11Element::Kind::application) {
    return AXError::notificationUnsupported;
  }
  std::lock_guard lock(mutex_);
  return registrations_.try_emplace(*key, context).second ? AXError::success
                                                          : AXError::notificationAlreadyRegistered;
}

AXError X11Observer::removeNotification(const AXElementRef& element, const std::string& notification) {
  AXError error = AXError::success;
  const std::optional<Key> key = keyOf(element, notification, pid_, error);
  if (!key) return error;
  std::lock_guard lock(mutex_);
  return registrations_.erase(*key) ? AXError::success : AXError::notificationNotRegistered;
}

void X11Observer::schedule(Executor& runLoop) {
  std::lock_guard lock(mutex_);
  executor_ = &runLoop;
  ++generation_;
}

void X11Observer::unschedule() {
  std::lock_guard lock(mutex_);
  executor_ = nullptr;
  ++generation_;
}

void X11Observer::focusedWindowChanged(const AXElementRef& window) {
  const Key key{{static_cast<int>(X11Element::Kind::application), 0u}, kFocusedWindowChanged};
  std::lock_guard lock(mutex_);
  if (!executor_ || !registrations_.contains(key)) return;
  executor_->post([weak = weak_from_this(), key, window, generation = generation_] {
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
    self->callback_(window, key.second, context);
  });
}

}  // namespace quorvel
