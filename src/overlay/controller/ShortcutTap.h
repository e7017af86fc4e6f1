#pragma once

#include <cstdint>
#include <optional>

namespace quorvel {

// Tells a tap of the summon shortcut from a hold. A tap is a summon press whose modifiers are let go
// of within kLongestTap, with nothing done in the switcher in between (no further press, step,
// search, pointer or scroll). Every other release is a hold.
//
// The times are the key events' own (the window system's milliseconds, which a busy main queue does
// not delay) when both the press and the release carry one; otherwise the controller's clock read
// when each reached it.
//
// A plain value of the overlay controller: main thread only.
class ShortcutTap {
 public:
  // A person's tap takes 100 to 250 ms; a hold that means to look at the cards lasts longer.
  static constexpr double kLongestTap = 0.3;

  // When a press or a release happened.
  struct Moment {
    std::optional<uint32_t> keyTime;  // the key event's time (ms), when known
    double clock = 0;                 // the controller's clock (seconds)
  };

  // A summon press that a tap would flip from.
  void pressed(Moment at) { press_ = at; }
  // Something was done in the switcher: the press can no longer be a tap.
  void interrupted() { press_.reset(); }
  // The shortcut's modifiers were let go of: whether that ended a tap. Forgets the press.
  bool released(Moment at);
  bool armed() const { return press_.has_value(); }

 private:
  std::optional<Moment> press_;
};

}  // namespace quorvel
