#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/Clock.h"
#include "base/Executor.h"

namespace quorvel {

class DefaultsStore;

// Notices, once the tour has been completed, that the summon shortcut does not reach the switcher
// because another program holds its keys (a window manager restarted with its own Alt+Tab, a
// shortcut changed to one that is taken, a start with the keys already taken), and asks for the
// "Shortcut needed" window: at once when the shortcut manager reports the change, and at a look
// every 30 s. The window is asked for once per loss; it closes itself when the keys are back, and a
// later loss asks again. While the settings or the tour are open the shortcut is said there, next
// to the choice; when that window closes with the keys still taken, the watcher speaks. Before the
// tour has been completed there is no such window: a loss that nothing else says is told in a short
// notice beside the tray item instead (that the keys are taken and where to read what to do), taken
// back once the keys are free.
//
// Threads: main executor only.
class PermissionWatcher {
 public:
  static constexpr Duration lookInterval = std::chrono::seconds(30);

  // `showWindow` is told whether the shortcut reached the switcher earlier in this run (a loss) or
  // never did.
  PermissionWatcher(DefaultsStore& store, Executor& main, std::function<bool()> shortcutHeldElsewhere,
                    std::function<void(bool lost)> showWindow);
  ~PermissionWatcher();
  PermissionWatcher(const PermissionWatcher&) = delete;
  PermissionWatcher& operator=(const PermissionWatcher&) = delete;

  // Starts (or restarts) the looks; the first comes 30 s from now.
  void start();
  // One look.
  void check();
  // The shortcut's keys changed owner.
  void ownershipChanged() { check(); }
  // True while a window where the shortcut is chosen is open (the settings, the tour): a shortcut
  // taken there is said there, next to the choice, for as long as it is open.
  void setAnsweredInPlace(std::function<bool()> answeredInPlace) { answeredInPlace_ = std::move(answeredInPlace); }
  // Such a window closed: a shortcut still taken is told now.
  void answeringWindowClosed();
  // Shows (true) or takes back (false) the notice beside the tray item.
  void setNotice(std::function<void(bool shown)> notice) { notice_ = std::move(notice); }
  // The notice's words for the summon shortcut ("Alt+Tab"; empty: none is named) held by `heldBy`,
  // as its advice says after "held by" (AdviceText::heldBy): the holder the Shortcuts pane names.
  static std::string noticeText(const std::string& shortcut, const std::string& heldBy);

 private:
  void scheduleLook();
  void withdrawNotice();

  DefaultsStore& store_;
  Executor& main_;
  std::function<bool()> shortcutHeldElsewhere_;
  std::function<void(bool lost)> showWindow_;
  std::function<bool()> answeredInPlace_;
  std::function<void(bool shown)> notice_;
  bool told_ = false;
  bool noticeTold_ = false;   // the notice was shown for this loss
  bool noticeShown_ = false;  // and may still show
  bool hadShortcut_ = false;  // a look found the keys ours
  std::optional<TimerId> look_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace quorvel
