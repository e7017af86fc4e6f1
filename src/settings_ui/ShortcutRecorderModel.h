#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/ShortcutAdvice.h"
#include "settings/HotkeyBinding.h"

namespace quorvel {

// Records one shortcut: after start, the next key press is checked and accepted, refused with a
// sentence (recording goes on), or taken as Escape (recording ends, nothing changes). Shift is never
// part of a shortcut; when it was held, a note says so after the shortcut is taken. A combination
// that another program holds is refused with the advice for freeing it. At most one
// recorder records in the program: starting one stops the other. While one records, the global
// shortcut is suspended, so pressing the current shortcut reaches the recorder.
//
// Threads: main thread only.
class ShortcutRecorderModel {
 public:
  using Role = HotkeyBinding::Role;
  using Suspend = std::function<void(bool suspended)>;

  static constexpr const char* kConflict = "You are already using that one somewhere else here. Pick a different one.";
  static constexpr const char* kShiftSummon =
      "Shift is not part of a shortcut. Hold Shift with your shortcut to go backward through your windows.";
  static constexpr const char* kShiftCancel =
      "Shift is not part of a shortcut, so it was left out. This key closes the switcher without it.";

  explicit ShortcutRecorderModel(Suspend suspend);
  ~ShortcutRecorderModel();
  ShortcutRecorderModel(const ShortcutRecorderModel&) = delete;
  ShortcutRecorderModel& operator=(const ShortcutRecorderModel&) = delete;

  // Stops when recording; otherwise stops any other recorder and starts.
  void toggle(Role role, std::vector<HotkeyBinding> conflicts, std::function<void(const HotkeyBinding&)> onRecord);
  void stop();
  // A key press while recording: the program's virtual key code and its HotkeyBinding flag bits
  // (Shift included). True when the recorder took it.
  bool handleKeyDown(int64_t keyCode, int64_t flags);

  bool isRecording() const { return recording_; }
  const std::optional<AdviceText>& message() const { return message_; }
  // Runs after each change of isRecording() or message().
  std::function<void()> onChange;
  // The sentence for a combination another program holds (whose it is and how to free it there), or
  // none while it is free. A held combination is refused with that sentence, since pressing it would
  // never reach the switcher; without it every combination counts as free.
  std::function<std::optional<AdviceText>(const HotkeyBinding&)> takenAdvice;

  // The recorder recording now, if any.
  static ShortcutRecorderModel* active();

 private:
  void changed();

  Suspend suspend_;
  bool recording_ = false;
  std::optional<AdviceText> message_;
  Role role_ = Role::summon;
  std::vector<HotkeyBinding> conflicts_;
  std::function<void(const HotkeyBinding&)> onRecord_;
};

}  // namespace quorvel
