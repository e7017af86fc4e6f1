#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>

namespace quorvel {

// Keys reach the program by two roads: the global key stream (a connection and a thread of its own,
// whose events reach the main queue as hops) and the overlay window's own connection. So that keys
// act in the order they were typed, whatever road carries them, both roads know each key's time on
// the window system's clock (milliseconds), and this ledger, shared by the two, tells which goes
// first:
//  - the key stream notes each event whose hop will ask the overlay to catch up, as it posts the
//    hop; the hop, on the main queue, runs between beginRun() and endRun();
//  - an overlay key acts only when no key-stream event typed before it is still on its way or
//    running; otherwise it waits, and the hop that runs delivers the overlay keys typed before its
//    own event, and only those, before it acts.
// A time of 0 is unknown and orders nothing. Times wrap around after 49.7 days and are compared by
// their difference. Thread-safe.
class KeyStreamOrder {
 public:
  struct Stamp {
    uint32_t time = 0;
    // The key froze the keyboard until the key stream answered it (a grabbed key-down): the server
    // handled no later key before, so an overlay key of the same millisecond was typed after it. A
    // modifier release freezes nothing: an overlay key of its millisecond came first.
    bool froze = false;
  };

  // On the key stream's thread, right before it posts the hop of an event stamped `stamp`.
  void posted(Stamp stamp);
  // On the main queue: the oldest posted hop runs, until endRun().
  void beginRun();
  void endRun();
  // The stamp of the hop that runs now, if any.
  std::optional<Stamp> running() const;

  // Whether an overlay key at `time` may act now: no key-stream event typed before it is on its way
  // or running.
  bool overlayKeyMayAct(uint32_t time) const;
  // Whether an overlay key at `time` was typed before the key-stream event stamped `stamp`.
  static bool typedBefore(uint32_t overlayTime, Stamp stamp);

  // The hops posted and not yet begun.
  size_t waiting() const;

 private:
  mutable std::mutex mutex_;
  std::deque<Stamp> posted_;
  std::optional<Stamp> running_;
};

}  // namespace quorvel
