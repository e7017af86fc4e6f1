#pragma once

#include <xcb/xcb.h>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/Clock.h"
#include "base/Executor.h"
#include "base/Logger.h"
#include "platform/KeyEventSource.h"
#include "platform/x11/X11ModifierMap.h"

namespace quorvel {

// The global key stream of an X session, on a connection and a thread ("HotkeyEventTap") of its own.
//
// Key-downs: a synchronous passive grab on the root window for exactly each key of interest with
// its modifiers, in every combination of Shift and the lock modifiers (Caps Lock, Num Lock, Scroll
// Lock). A grabbed press freezes the keyboard until it is answered: a delivered key is replayed, so
// the focused application receives it untouched; a swallowed one is let go of. A watchdog replays a
// press the handler has not answered within 200 ms, so the keyboard never stays frozen; the handler
// then sees disabledByTimeout, and presses are replayed unseen until it calls enable().
//
// Modifier changes: XInput 2 raw key events of the modifier keys, which the server sends whatever
// window has the focus and whatever grab is active; the held modifiers are tracked per key code and
// every change is shown as a flagsChanged event. The ModN of Alt (Option) and of Super (Command) come
// from the server's modifier mapping, read again when it changes.
//
// Each key of interest is grabbed on its own: a key another client holds (BadAccess; many window
// managers bind Alt-Tab) is left to it and reported to the ownership handler, and the other keys
// work. A refused key is asked for again when it enters the interest anew (the user chose the
// shortcut again), 1 s after a window manager took over the screen (the WM_S<n> selection changed
// hands, as at the manager's restart; the manager takes its own keys first), and whenever the
// program asks (askForRefusedKeys: the shortcut manager asks at an interval for as long as a key is
// refused); a key taken that way is reported too. A refused key is never taken from a window
// manager's own switcher: while on screen it holds the whole keyboard, and some managers let go of
// their passive grabs meanwhile, to take them back when it closes. Their steps leave two moments
// in which neither is held: from letting go of the keys to grabbing the keyboard as the switcher
// opens (its modifier still down), and from letting go of the keyboard to grabbing the keys again
// as it closes (its modifier just let go of). So a refused key found free is let go of again at
// once (in the same flush as its grab), and is taken only when it is found free once more
// confirmDelay later, with no modifier pressed in between; a finding while another client holds
// the keyboard, while a press of our own holds it or while a modifier key is down counts for
// nothing and forgets the earlier one. The source makes those looks by itself, on the executor it
// was opened with: confirmDelay after a key was found free, and releaseSettle after the modifiers
// are all let go of when a look found one down, so that a user who tries the shortcut again and
// again has it between two tries (the manager's asks, at their own pace, would meet a modifier
// down each time). A look sends the key's grabs with a read of the keys down, in one flush. A key
// still refused ends the look there: other programs see nothing of it (a passive grab, given or
// refused, sends no event). Only a key found free with no modifier down has the keyboard probed, by
// asking for an active grab and giving it back at once (keyboard synchronous, so a key typed
// meanwhile waits in the server and then goes where it would have gone); the focused window sees
// that grab come and go, so it is never asked while the key is held elsewhere. A change of the
// modifier mapping grabs the held keys again, and leaves the refused ones refused.
//
// Keeping the keyboard (keepKeyboard, asked while a summon's press is decided): once the press is
// answered, the source turns the active grab of that press into a grab of the whole keyboard, so
// the keys typed before the switcher's window takes the keyboard (Tab with the shortcut's
// modifiers, which a window manager may bind) come to the handler rather than to the focused
// window or another program's binding. The source lets go when handOverKeyboard() asks (the
// window's own grab was refused), when one of the modifiers held with the press is let go of, or
// keepLimit after the press, whichever comes first.
//
// The reader waits on the connection and on a wake-up of its own with no time-out: with nothing
// happening it never runs. While another thread makes round trips on the connection (a look,
// setInterest), that thread reads the socket: the reader waits on its wake-up alone meanwhile
// (the socket stays readable until the other thread reads, and would turn the reader round and
// round), and is woken afterwards, so events that round trip pulled off the socket are looked at
// at once.
class X11KeySource final : public KeyEventSource {
 public:
  static constexpr std::chrono::milliseconds watchdogDelay{200};
  // From a window manager's take-over to asking for the refused keys again.
  static constexpr std::chrono::milliseconds managerSettleDelay{1000};
  // The longest the keyboard is kept for a switcher that does not come.
  static constexpr std::chrono::milliseconds keepLimit{2000};
  // From finding a refused key free to taking it, if it is free then too with no modifier pressed
  // meanwhile (a manager closing its switcher takes its keys back well within it), and short enough
  // for two looks to fit between two tries of a user who keeps trying the shortcut.
  static constexpr std::chrono::milliseconds confirmDelay{250};
  // From the modifiers' release to the look that a look finding one down asked for: a manager's
  // switcher that closes on that release has taken its keys back by then.
  static constexpr std::chrono::milliseconds releaseSettle{100};

  // Connects to `displayName` (DISPLAY when empty); absent when the server cannot be reached or has
  // no XInput 2. The looks at refused keys that the source makes by itself run on `looks` (the main
  // queue), timed on its clock; it must outlive the source.
  static std::unique_ptr<X11KeySource> open(Executor& looks, const std::string& displayName = {});
  // Stops, then closes the connection.
  ~X11KeySource() override;
  // Ends the threads, answers a frozen press and lets go of every grab (the keyboard kept for a
  // summon too): from then on no handler is called, nothing is grabbed again and the keys go where
  // they would without the source. Safe to call more than once.
  void stop();
  X11KeySource(const X11KeySource&) = delete;
  X11KeySource& operator=(const X11KeySource&) = delete;

  void setInterest(std::vector<KeyInterest> keys) override;
  bool install(Handler handler) override;
  void enable() override;
  void setOwnershipHandler(OwnershipHandler handler) override;
  // Asked while the user is told to free a key (the tour's shortcut page, the "Shortcut needed"
  // window): a key freed in the window manager's settings is taken without waiting for its restart.
  void askForRefusedKeys() override;
  // Asks the server for the key's grabs and lets go of them at once; a refused key of interest is
  // answered from what the source knows. False before install (the modifier mapping is unknown).
  bool heldByAnotherProgram(const KeyInterest& key) override;
  void keepKeyboard() override { keepAsked_ = true; }
  bool handOverKeyboard() override;

  // Whether the source keeps the whole keyboard now (keepKeyboard).
  bool keepsKeyboard() const { return kept_.load(); }

  // How many times the reader has woken from its wait.
  uint64_t readerWakeups() const { return readerWakeups_.load(); }
  // How many presses the watchdog had to replay.
  uint64_t watchdogReplays() const { return watchdogReplays_.load(); }
  // The keys of interest refused for now (held by another client).
  std::vector<KeyInterest> refusedKeys() const;

 private:
  struct Grab {
    uint8_t keycode;
    uint16_t modifiers;
  };
  // The press the keyboard is frozen on, until it is answered.
  struct Frozen {
    xcb_timestamp_t time = 0;
    std::chrono::steady_clock::time_point since;
    bool answered = true;
    bool timedOut = false;
  };

  // A refused key found free: when, and how many modifier presses had been seen then.
  struct FreeSighting {
    Instant at;
    uint64_t modifierPresses = 0;
  };

  using Reports = std::vector<std::pair<KeyInterest, bool>>;

  // What a look that the source schedules needs of it; emptied when the source goes, so that a look
  // still queued does nothing.
  struct Life {
    std::mutex mutex;
    X11KeySource* source = nullptr;
  };

  X11KeySource(Executor& looks, xcb_connection_t* connection, xcb_window_t root, uint8_t xinputOpcode,
               uint8_t fixesEvent, xcb_atom_t managerSelection);

  // Under mutex_: brings the grabs in line with interest_. A key refused before is asked for again
  // only with `retryRefused`. Answers the changes of owner to report once the lock is let go of.
  Reports applyInterestLocked(bool retryRefused);
  void report(const Reports& reports);
  // Under mutex_: a look at the refused keys at `due` (or sooner, when one is due sooner already).
  void scheduleLookLocked(Instant due);
  // The scheduled look `generation`, unless another replaced it.
  Reports lookAgain(uint64_t generation);
  bool installLocked(Handler handler, Reports& reports);
  // Grabs `key` with every combination of Shift and the lock modifiers; none when another client
  // holds it. With `letGo`, the grabs are let go of again right behind them; with `keys`, the keys
  // down are asked for right behind them too, in the same flush (the caller takes the answer).
  std::optional<std::vector<Grab>> grabLocked(const KeyInterest& key, bool letGo = false,
                                              xcb_query_keymap_cookie_t* keys = nullptr);
  void ungrabLocked(const std::vector<Grab>& grabs);
  void releaseAllLocked();
  // Whether the keyboard is in use, for a key just found free: a modifier key is down (the keys
  // down, `keys`, asked for with the key's grabs), or some client holds all of it (a press of ours
  // whose grab is still active; else another's active grab, told by asking for the keyboard, which
  // is asked only when nothing else says it is in use; also when the server does not answer).
  struct KeyboardUse {
    bool held = false;
    bool modifierDown = false;
  };
  KeyboardUse keyboardUseLocked(xcb_query_keymap_cookie_t keys);
  void wake();
  // Held by a thread other than the reader for its round trips on the connection: the reader leaves
  // the socket to it meanwhile, and is woken when the last one ends.
  class ForeignReads {
   public:
    explicit ForeignReads(X11KeySource& source) : source_(source) { ++source_.foreignReads_; }
    ~ForeignReads() {
      --source_.foreignReads_;
      source_.wake();
    }
    ForeignReads(const ForeignReads&) = delete;
    ForeignReads& operator=(const ForeignReads&) = delete;

   private:
    X11KeySource& source_;
  };

  void readLoop();
  void watchdogLoop();
  void handleEvent(const xcb_generic_event_t& event);
  void handleKeyPress(const xcb_key_press_event_t& event);
  void handleRawKey(uint8_t keycode, bool pressed, xcb_timestamp_t time);
  // Answers the frozen press (unless the watchdog did); true when the watchdog had answered it.
  bool answer(xcb_timestamp_t time, KeyVerdict verdict);
  // Grabs the whole keyboard until the modifiers `held` are let go of (reader thread).
  void keepLocked(uint64_t held);
  void letGoLocked();

  Executor& looks_;
  xcb_connection_t* const connection_;
  const xcb_window_t root_;
  const uint8_t xinputOpcode_;
  const Logger logger_{"HotkeyManager"};

  mutable std::mutex mutex_;  // interest, grabs, the main thread's map, the install
  std::vector<KeyInterest> interest_;
  std::map<std::pair<int64_t, uint64_t>, std::vector<Grab>> grabbed_;
  std::vector<KeyInterest> refused_;
  std::map<std::pair<int64_t, uint64_t>, FreeSighting> freeSeen_;  // refused keys found free
  // The look scheduled on looks_: its timer, when it is due, and its number (a look replaced by a
  // sooner one finds its number old and does nothing).
  std::optional<TimerId> lookTimer_;
  Instant lookDue_{};
  uint64_t lookGeneration_ = 0;
  bool awaitingRelease_ = false;  // a look found a modifier down: look again once all are let go of
  const std::shared_ptr<Life> life_ = std::make_shared<Life>();
  OwnershipHandler ownership_;  // set once before install
  std::optional<X11ModifierMap> map_;
  bool installed_ = false;
  std::atomic<bool> disabled_{false};  // after a watchdog time-out, until enable()
  // The key code of the press whose passive grab is active now (0: none): from its press to its
  // release, both read on the reader thread.
  std::atomic<uint8_t> pressHeld_{0};
  std::atomic<bool> keepAsked_{false};  // by the handler, for the press it decides
  std::atomic<bool> kept_{false};       // the whole keyboard is grabbed (changed under mutex_)
  std::atomic<uint64_t> modifierPresses_{0};  // counted by the reader
  uint64_t keptModifiers_ = 0;          // under mutex_: the modifiers whose release ends the keep
  std::chrono::steady_clock::time_point keptUntil_;  // under mutex_
  Handler handler_;  // set once before the threads start

  // Reader thread only.
  X11ModifierMap readerMap_;
  std::array<bool, 256> held_{};
  uint64_t lastFlags_ = 0;
  const uint8_t fixesEvent_;  // XFixes' selection-notify event code; 0 without XFixes
  const xcb_atom_t managerSelection_;  // WM_S<screen>
  std::optional<std::chrono::steady_clock::time_point> managerSettles_;

  std::mutex frozenMutex_;
  std::condition_variable frozenChanged_;
  Frozen frozen_;
  std::atomic<uint64_t> watchdogReplays_{0};

  std::atomic<int> foreignReads_{0};  // round trips of other threads under way (ForeignReads)
  std::atomic<uint64_t> readerWakeups_{0};
  std::atomic<bool> stopping_{false};
  int wakeFd_ = -1;
  std::thread reader_;
  std::thread watchdog_;
};

}  // namespace quorvel
