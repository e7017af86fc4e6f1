#pragma once

#include <functional>

#include "app/HotkeyMatchState.h"
#include "base/Clock.h"
#include "base/Logger.h"
#include "base/UncheckedBox.h"
#include "platform/KeyEventSource.h"
#include "platform/KeyStreamOrder.h"

namespace quorvel {

// What the shortcut tap's thread shares with the main thread: the match state in its locked box,
// the installed source in a box of its own (filled once the tap runs, read to turn it back on), and
// the four hops to the main queue. The key-event source keeps it alive through its handler, the
// manager through its own reference.
//
// handle() runs on the source's thread. It takes the state lock for one matcher run only and calls
// the hops after releasing it; the hops only post to the main queue and never wait.
class HotkeyTapContext {
 public:
  // Each hop that acts on the overlay carries its key's stamp, so the overlay's own keys can be put
  // in order with it (see KeyStreamOrder).
  using Stamp = KeyStreamOrder::Stamp;
  struct Hops {
    std::function<void(int direction, HotkeyPress press, AppSettings::HotkeyScope scope, Stamp stamp)> summon;
    std::function<void(Stamp stamp)> modifierRelease;
    std::function<void()> prewarm;
    std::function<void(DismissKeyRoute route, Stamp stamp)> dismissKey;
  };

  HotkeyTapContext(HotkeyMatchState initial, Hops hops, const Clock& clock);

  UncheckedBox<HotkeyMatchState>& state() { return state_; }
  UncheckedBox<KeyEventSource*>& port() { return port_; }

  // The tap callback: decides one event and answers whether to deliver or swallow it.
  KeyVerdict handle(const KeyEvent& event);

 private:
  UncheckedBox<HotkeyMatchState> state_;
  UncheckedBox<KeyEventSource*> port_;
  const Hops hops_;
  const Clock& clock_;
  const Logger logger_{"HotkeyManager"};
};

}  // namespace quorvel
