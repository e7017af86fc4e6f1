#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace quorvel {

// Modifier bits of the program's key vocabulary: the device-independent flag bits of a key event,
// whatever the keyboard or the display server. Backends translate their own modifiers into these
// (on X11: Shift, Lock, Control, the ModN that carries Alt as Option, the ModN that carries Super as
// Command).
struct KeyFlags {
  static constexpr uint64_t capsLock = 0x10000;
  static constexpr uint64_t shift = 0x20000;
  static constexpr uint64_t control = 0x40000;
  static constexpr uint64_t option = 0x80000;
  static constexpr uint64_t command = 0x100000;
  static constexpr uint64_t function = 0x800000;
  // Control, Option and Command: the modifiers a shortcut requires or forbids.
  static constexpr uint64_t shortcutModifiers = control | option | command;
};

// One event a key-event source shows its handler. Key codes are virtual key codes of the program's
// vocabulary (Tab 48, Escape 53, the key above Tab 50); flags are KeyFlags bits.
struct KeyEvent {
  enum class Type : uint32_t {
    keyDown = 10,
    flagsChanged = 12,
    // The source stopped showing events: its handler took too long (an event was answered for it),
    // or the user's input turned it off. The handler should call enable().
    disabledByTimeout = 0xFFFFFFFE,
    disabledByUserInput = 0xFFFFFFFF,
  };
  Type type = Type::keyDown;
  int64_t keyCode = 0;  // key-down only
  uint64_t flags = 0;   // the modifiers held, after a flags change
  uint32_t time = 0;    // the window system's time of the event (milliseconds); 0 when unknown
  // Key-down only: the source held the whole keyboard when the key came, so no window saw it.
  bool keyboardHeld = false;
};

// What the handler answers for a key-down: hand the event on to the application that has the
// keyboard, untouched, or take it out of the stream. Other events are always delivered.
enum class KeyVerdict { deliver, swallow };

// A key-down the source must show the handler: `keyCode` pressed with exactly the `requiredFlags`
// among Control, Option and Command, with or without Shift, whatever the lock keys. A source that
// sees every key anyway may ignore interests; one that must ask for keys one by one (X11 grabs)
// asks for exactly these, so every other key goes to the focused application without a detour.
struct KeyInterest {
  int64_t keyCode = 0;
  uint64_t requiredFlags = 0;
  bool operator==(const KeyInterest&) const = default;
};

// The global stream of key events, seen before the focused application sees them: a key-down may be
// swallowed. Each source runs its own thread and calls the handler there, one event at a time; the
// handler must answer quickly and never wait on the main thread.
//
// install() and setInterest() may be called from any thread; interests may change at any time,
// before or after install.
class KeyEventSource {
 public:
  using Handler = std::function<KeyVerdict(const KeyEvent&)>;
  // Who holds a key of interest changed: `held` false when another program holds it and the source
  // could not take it, true when a key refused before is now the source's. Called on whatever
  // thread made the change (the source's own, or the caller of install() or setInterest()), never
  // under the source's locks; a key taken at its first try is not reported.
  using OwnershipHandler = std::function<void(const KeyInterest& key, bool held)>;

  virtual ~KeyEventSource() = default;
  // Replaces the keys of interest.
  virtual void setInterest(std::vector<KeyInterest> keys) = 0;
  // Starts the source with `handler`. False when the system refuses it (no permission); nothing is
  // left running then and a later call may try again. A key of interest that another program holds
  // does not refuse the install: the other keys work, and the refused one goes to the ownership
  // handler. After a success, further calls do nothing and answer true.
  virtual bool install(Handler handler) = 0;
  // Turns the stream back on after a disabledBy... event.
  virtual void enable() = 0;
  // Set once, before install(). A source that sees every key anyway never reports.
  virtual void setOwnershipHandler(OwnershipHandler) {}
  // Asks once more for the keys of interest that another program held; a key taken now is reported
  // to the ownership handler. A source that sees every key anyway has nothing to ask for.
  virtual void askForRefusedKeys() {}
  // Asked by the handler while it decides a key-down it swallows: the key summons something that
  // takes the whole keyboard itself a moment later (the switcher's window). Until then, or until
  // the modifiers held with the key are let go of, the source keeps every key from the focused
  // application and from other programs' bindings and shows each to the handler; a key the handler
  // delivers meanwhile is dropped. A source that sees every key anyway keeps nothing.
  virtual void keepKeyboard() {}
  // What keepKeyboard() kept is wanted now: the source lets go of the keyboard before it returns.
  // True when it held it.
  virtual bool handOverKeyboard() { return false; }
  // Whether another program holds `key` now, so that the source could not have it: asked of a
  // combination before the user takes it as a shortcut. A key of interest the source holds itself is
  // not another program's. A source that sees every key anyway answers false.
  virtual bool heldByAnotherProgram(const KeyInterest& /*key*/) { return false; }
};

}  // namespace quorvel
