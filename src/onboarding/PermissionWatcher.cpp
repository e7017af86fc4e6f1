#include "onboarding/PermissionWatcher.h"

#include "base/DefaultsStore.h"
#include "onboarding/OnboardingFlow.h"

namespace quorvel {

PermissionWatcher::PermissionWatcher(DefaultsStore& store, Executor& main, std::function<bool()> shortcutHeldElsewhere,
                                     std::function<void()> showWindow)
    : store_(store),
      main_(main),
      shortcutHeldElsewhere_(std::move(shortcutHeldElsewhere)),
      showWindow_(std::move(showWindow)) {}

PermissionWatcher::~PermissionWatcher() {
  alive_.reset();
  if (look_) main_.cancel(*look_);
}

void PermissionWatcher::start() {
  if (look_) main_.cancel(*look_);
  look_.reset();
  scheduleLook();
}

void PermissionWatcher::scheduleLook() {
  look_ = main_.postAfter(lookInterval, [alive = std::weak_ptr<bool>(alive_), this] {
    if (!alive.lock()) return;
    look_.reset();
    check();
    scheduleLook();
  });
}

void PermissionWatcher::check() {
  // During the first tour its own shortcut page says what the watcher would.
  if (!store_.boolValue(OnboardingFlow::completedKey)) return;
  const bool held = shortcutHeldElsewhere_ && shortcutHeldElsewhere_();
  if (!held) {
    told_ = false;
    return;
  }
  if (told_) return;
  told_ = true;
  if (answeredInPlace_ && answeredInPlace_()) return;
  if (showWindow_) showWindow_();
}

}  // namespace quorvel
