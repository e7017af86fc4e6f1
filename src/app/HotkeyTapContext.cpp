#include "app/HotkeyTapContext.h"

#include "base/Tracer.h"

namespace quorvel {

namespace {

Tracer& eventTapTracer() {
  // Never destroyed: threads still running as the process ends may trace.
  static Tracer& tracer = *new Tracer("EventTap");
  return tracer;
}

// Ends the callback's interval on every way out.
class CallbackInterval {
 public:
  CallbackInterval() : state_(eventTapTracer().beginInterval("tapCallback", eventTapTracer().makeTraceId())) {}
  ~CallbackInterval() { eventTapTracer().endInterval("tapCallback", state_); }
  CallbackInterval(const CallbackInterval&) = delete;
  CallbackInterval& operator=(const CallbackInterval&) = delete;

 private:
  Tracer::IntervalState state_;
};

}  // namespace

HotkeyTapContext::HotkeyTapContext(HotkeyMatchState initial, Hops hops, const Clock& clock)
    : state_(std::move(initial)), hops_(std::move(hops)), clock_(clock) {}

KeyVerdict HotkeyTapContext::handle(const KeyEvent& event) {
  CallbackInterval interval;
  switch (event.type) {
    case KeyEvent::Type::disabledByTimeout:
    case KeyEvent::Type::disabledByUserInput: {
      logger_.notice("Event tap disabled (%{public}u), re-enabling", static_cast<uint32_t>(event.type));
      KeyEventSource* source = port_.withLock([](KeyEventSource* known) { return known; });
      if (source) source->enable();
      return KeyVerdict::deliver;
    }
    case KeyEvent::Type::keyDown: {
      const TapKeyDecision decision =
          state_.withLock([&](HotkeyMatchState& s) { return s.matchKeyDown(event.keyCode, event.flags, event.keyboardHeld); });
      switch (decision.kind) {
        case TapKeyDecision::Kind::press:
          // The switcher shows its window a moment later: until it takes the keyboard, the keys
          // typed with the shortcut's modifiers still held (Tab) come here, not to another program.
          if (decision.press == HotkeyPress::shortcut) {
            if (KeyEventSource* source = port_.withLock([](KeyEventSource* known) { return known; }))
              source->keepKeyboard();
          }
          if (hops_.summon) hops_.summon(decision.direction, decision.press, decision.scope, Stamp{event.time, true});
          return KeyVerdict::swallow;
        case TapKeyDecision::Kind::dismissKey:
          if (hops_.dismissKey) hops_.dismissKey(decision.route, Stamp{event.time, true});
          return decision.route == DismissKeyRoute::tapMustHandleIt ? KeyVerdict::swallow : KeyVerdict::deliver;
        case TapKeyDecision::Kind::pass:
          return KeyVerdict::deliver;
      }
      return KeyVerdict::deliver;
    }
    case KeyEvent::Type::flagsChanged: {
      const double now = clock_.mediaTime();
      const FlagsDecision decision =
          state_.withLock([&](HotkeyMatchState& s) { return s.matchFlags(event.flags, now); });
      if (decision.released && hops_.modifierRelease) hops_.modifierRelease(Stamp{event.time, false});
      if (decision.prewarm && hops_.prewarm) hops_.prewarm();
      return KeyVerdict::deliver;
    }
  }
  return KeyVerdict::deliver;
}

}  // namespace quorvel
