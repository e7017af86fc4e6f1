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
    noticeTold_ = false;
    withdrawNotice();
    return;
  }
  // The tour's shortcut page or the settings' shortcut rows say it while they are open.
  if (answeredInPlace_ && answeredInPlace_()) return;
  if (store_.boolValue(OnboardingFlow::completedKey)) {
    if (told_) return;
    told_ = true;
    // The window says all the notice did, and more.
    withdrawNotice();
    if (showWindow_) showWindow_(hadShortcut_);
    return;
  }
  // The tour was left before its end: only the tray item is there to say it.
  if (noticeTold_ || !notice_) return;
  noticeTold_ = true;
  noticeShown_ = true;
  notice_(true);
}

void PermissionWatcher::withdrawNotice() {
  if (!noticeShown_) return;
  noticeShown_ = false;
  if (notice_) notice_(false);
}

std::string PermissionWatcher::noticeText(const std::string& shortcut, const std::string& heldBy) {
  return (shortcut.empty() ? std::string("Your shortcut") : shortcut) + " is held by " + heldBy +
         ", so pressing it does not open Quorvel. To read what to do, choose Settings in this icon's menu and open "
         "Shortcuts.";
}

void PermissionWatcher::answeringWindowClosed() {
  // Looked at once the close is over (the window is told while it still shows). What the closed
  // window said goes with it; a "Shortcut needed" window the user closed before counts again too,
  // for the user went to the choice and left it without a working shortcut.
  main_.post([alive = std::weak_ptr<bool>(alive_), this] {
    if (!alive.lock()) return;
    told_ = false;
    noticeTold_ = false;
    check();
  });
}

}  // namespace quorvel
