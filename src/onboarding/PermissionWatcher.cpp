#include "onboarding/PermissionWatcher.h"

#include "base/DefaultsStore.h"
#include "onboarding/OnboardingFlow.h"

namespace quorvel {

PermissionWatcher::PermissionWatcher(DefaultsStore& store, Executor& main, std::function<bool()> shortcutHeldElsewhere,
                                     std::function<void(bool lost)> showWindow)
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
  const bool held = shortcutHeldElsewhere_ && shortcutHeldElsewhere_();
  if (!held) {
    hadShortcut_ = true;
    told_ = false;
    return;
  }
  // During the first tour its own shortcut page says what the watcher would.
  if (!store_.boolValue(OnboardingFlow::completedKey)) return;
  if (told_ || (answeredInPlace_ && answeredInPlace_())) return;
  told_ = true;
  if (showWindow_) showWindow_(hadShortcut_);
}

void PermissionWatcher::answeringWindowClosed() {
  // Looked at once the close is over (the window is told while it still shows). What the closed
  // window said goes with it; a "Shortcut needed" window the user closed before counts again too,
  // for the user went to the choice and left it without a working shortcut.
  main_.post([alive = std::weak_ptr<bool>(alive_), this] {
    if (!alive.lock()) return;
    told_ = false;
    check();
  });
}

}  // namespace quorvel
