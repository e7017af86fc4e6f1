#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/HotkeyMatchState.h"
#include "app/HotkeyTapContext.h"
#include "base/Executor.h"
#include "base/Logger.h"
#include "base/Subscription.h"
#include "platform/KeyEventSource.h"
#include "platform/KeyStreamOrder.h"
#include "platform/Workspace.h"
#include "settings/AppSettings.h"

namespace quorvel {

// Turns global key events into summon presses.
//
// The manager follows the settings (the two summon shortcuts with their scopes, the key above Tab,
// the pass-through applications) and the front application, and installs the shortcut tap on the
// key-event source, which runs it on a thread of its own. There, for each key-down, the tap decides
// at once whether it is a summon press, the key above Tab stepping backward, or a dismiss key of the
// open overlay; it swallows the presses and the dismiss keys it must handle itself and delivers
// every other key untouched. From the modifier changes it tells when the armed shortcut's modifiers
// are released and, at most once every 5 s, that a shortcut's modifiers are held while the overlay
// is down. Every decision reaches the main queue as one hop, in the order the tap made them, and
// calls the matching closure there.
//
// A refused install (no permission) is logged once and retried every 3 s until it succeeds; a tap
// the system turns off is turned back on at once. A key of a shortcut that another program holds
// (the window manager, usually) leaves the other keys working; the source reports each change of
// the key's owner, and the manager asks the source for the refused keys again every
// refusedAskInterval for as long as any is refused, so a key freed in the window manager's
// settings comes back by itself. The refused keys of a shortcut are told together, once per
// refusal, naming the shortcut the user chose with the advice on freeing it under the window
// manager that runs ("Alt+Tab is taken by another program..."): logged, and handed to
// onShortcutRefused the first time in the run; a shortcut that comes back is logged as working
// now.
//
// Threads: every member function and closure runs on the main executor, which owns the manager's
// fields. The tap thread sees them only through the match state, read and written under its lock,
// which is held for one matcher run or one change and never across a hop or a call out.
class HotkeyManager : public std::enable_shared_from_this<HotkeyManager> {
 public:
  static constexpr Duration retryInterval = std::chrono::seconds(3);
  // Between two asks for the keys another program holds, while any is held.
  static constexpr Duration refusedAskInterval = std::chrono::seconds(2);

  // The settings, the workspace, the key-event source and the executor must outlive the manager, and
  // the source must be stopped (destroyed) before the executor: its thread keeps posting hops, which
  // find the manager gone and do nothing, for as long as it runs.
  static std::shared_ptr<HotkeyManager> create(AppSettings& settings, Workspace& workspace,
                                               KeyEventSource& source, Executor& main);
  ~HotkeyManager();
  HotkeyManager(const HotkeyManager&) = delete;
  HotkeyManager& operator=(const HotkeyManager&) = delete;

  // Called on the main executor. Set once by the application before start().
  std::function<void(int direction, HotkeyPress press, AppSettings::HotkeyScope scope)> onSummon;
  std::function<void()> onModifierRelease;
  std::function<void()> onPrewarm;
  std::function<void(DismissKeyRoute route)> onDismissKey;
  // A key of a shortcut is held by another program: the sentence that tells the user, once per key
  // and run.
  std::function<void(const std::string& sentence)> onShortcutRefused;
  // Every shortcut told as taken works again (or is no longer a shortcut): what was said is past.
  std::function<void()> onShortcutsFree;
  // A key of a shortcut changed owner (taken by another program, or ours again).
  std::function<void()> onOwnershipChange;
  // The name the window manager gives itself, for the advice on freeing a key; empty when unknown.
  std::function<std::string()> windowManagerName;
  // The advice on freeing a taken shortcut (named as the user types it) in the words of the window
  // manager that runs, naming where it keeps the binding; when unset, the advice for
  // windowManagerName() serves.
  std::function<std::string(const KeyInterest& shortcut, const std::string& name)> shortcutAdvice;

  // A key of interest as the user types it: "Alt+Tab", "Ctrl+Super+`".
  static std::string shortcutText(const KeyInterest& key);

  // Reads the settings, follows the settings and the front application from now on, and installs
  // the tap (retrying when it is refused). A second start adds nothing and installs nothing twice.
  void start();

  // The overlay's keyboard state (none while it is down). A value equal to the last one is ignored;
  // a new one reaches the tap before its next event.
  void reportKeyboardState(const std::optional<OverlayKeyboardState>& state);
  // A key press that reached the overlay's window while it holds the whole keyboard (so the key
  // stream never saw it): when it is a summon press of a shortcut (the shortcut's key, or the key
  // above Tab stepping backward), the press as the tap would have made it, its modifiers armed for
  // the release; none for any other key, Escape and the cancel key included (the overlay's own).
  std::optional<TapKeyDecision> overlayShortcutPress(int64_t keyCode, uint64_t flags);
  // The switcher's window is ready to take the keyboard: the key stream lets go of a keyboard it
  // kept since the summon's press (see KeyEventSource::keepKeyboard). True when it held it.
  bool handOverKeyboard() { return source_.handOverKeyboard(); }
  // The shortcut recorder: while it records, no key-down is matched or swallowed and no pre-warm is
  // reported; starting also disarms an armed shortcut.
  void setRecording(bool recording);

  // Whether a key of the shortcut in `slot` is held by another program now, so that pressing it
  // never reaches the switcher. False without a shortcut there.
  bool keysHeldElsewhere(HotkeySlot slot = HotkeySlot::first) const;
  // Asks the key source once more for the keys another program held (they may have been freed).
  void askForKeysAgain();

  bool isRecording() const { return isRecording_; }

  // The order of the key stream's hops that act on the overlay, shared with the overlay's windows
  // so that their own keys act in the order typed with the shortcut's (see KeyStreamOrder).
  std::shared_ptr<KeyStreamOrder> keyOrder() const { return keyOrder_; }
  // While a hop of the key stream runs (onSummon, onModifierRelease, onDismissKey): the window
  // system's time of its key event (milliseconds), when the event had one; none otherwise.
  std::optional<uint32_t> keyEventTime() const;
  bool isInstalled() const { return installed_; }
  bool isRetryScheduled() const { return isRetryScheduled_; }
  bool passThroughActive() const { return passThroughActive_; }
  const std::vector<HotkeyMatchEntry>& activeEntries() const { return activeEntries_; }
  const std::optional<OverlayKeyboardState>& overlayKeyboard() const { return overlayKeyboard_; }
  // A copy of the tap's match state, taken under its lock; none before the tap is installed.
  std::optional<HotkeyMatchState> matchState() const;

 private:
  HotkeyManager(AppSettings& settings, Workspace& workspace, KeyEventSource& source, Executor& main);

  void reloadSettings();
  std::vector<HotkeyMatchEntry> loadEntries() const;
  void updatePassThrough();
  bool installTap();
  void scheduleRetry();
  void noteOwnership(const KeyInterest& key, bool held);
  // Tells, once the source's reports of one change have all arrived, which shortcuts are taken
  // now and which came back.
  void reportShortcuts();
  void scheduleReport();
  void scheduleAsk();
  // Runs `change` on the match state under its lock when the tap exists, then hands the source the
  // keys of interest of the state after the change.
  template <class F>
  void changeMatchState(F&& change);

  AppSettings& settings_;
  Workspace& workspace_;
  KeyEventSource& source_;
  Executor& main_;
  const Logger logger_{"HotkeyManager"};

  std::vector<HotkeyMatchEntry> activeEntries_;
  bool graveCyclesBackward_ = false;
  bool isRecording_ = false;
  std::vector<std::string> passThroughIDs_;
  bool passThroughActive_ = false;
  std::optional<OverlayKeyboardState> overlayKeyboard_;
  std::shared_ptr<HotkeyTapContext> tapContext_;
  const std::shared_ptr<KeyStreamOrder> keyOrder_ = std::make_shared<KeyStreamOrder>();
  bool installed_ = false;
  bool isRetryScheduled_ = false;
  std::vector<KeyInterest> toldUser_;  // shortcuts whose refusal went to onShortcutRefused this run
  std::vector<KeyInterest> toldTaken_;  // shortcuts logged as taken, until they come back
  std::vector<KeyInterest> toldBackward_;  // shortcuts whose key above Tab was logged as taken
  std::vector<KeyInterest> heldElsewhere_;  // keys of interest another program holds now
  bool reportPending_ = false;
  std::optional<TimerId> askTimer_;
  Subscription defaultsObserver_;
  Subscription activationObserver_;
};

}  // namespace quorvel
