#include "settings_ui/ShortcutRecorderModel.h"

namespace quorvel {

namespace {
ShortcutRecorderModel* activeRecorder = nullptr;
}

ShortcutRecorderModel* ShortcutRecorderModel::active() { return activeRecorder; }

ShortcutRecorderModel::ShortcutRecorderModel(Suspend suspend) : suspend_(std::move(suspend)) {}

ShortcutRecorderModel::~ShortcutRecorderModel() {
  onChange = nullptr;
  stop();
}

void ShortcutRecorderModel::changed() {
  if (onChange) onChange();
}

void ShortcutRecorderModel::toggle(Role role, std::vector<HotkeyBinding> conflicts,
                                   std::function<void(const HotkeyBinding&)> onRecord) {
  if (recording_) {
    stop();
    return;
  }
  if (activeRecorder && activeRecorder != this) activeRecorder->stop();
  activeRecorder = this;
  role_ = role;
  conflicts_ = std::move(conflicts);
  onRecord_ = std::move(onRecord);
  message_.reset();
  recording_ = true;
  if (suspend_) suspend_(true);
  changed();
}

void ShortcutRecorderModel::stop() {
  const bool wasRecording = recording_;
  recording_ = false;
  message_.reset();
  conflicts_.clear();
  role_ = Role::summon;
  onRecord_ = nullptr;
  if (activeRecorder == this) activeRecorder = nullptr;
  if (wasRecording && suspend_) suspend_(false);
  if (wasRecording) changed();
}

bool ShortcutRecorderModel::handleKeyDown(int64_t keyCode, int64_t flags) {
  if (!recording_) return false;
  const int64_t modifiers = flags & HotkeyBinding::modifierMask;
  const bool shift = (flags & HotkeyBinding::shiftFlag) != 0;
  if (keyCode == HotkeyBinding::escapeKeyCode && modifiers == 0) {
    stop();
    return true;
  }
  const HotkeyBinding binding{keyCode, modifiers};
  std::optional<HotkeyBinding::Problem> problem = HotkeyBinding::problemFor(keyCode, flags, role_);
  // Super+Tab is the desktop's own switcher only where a program really holds it (many window
  // managers leave it free); where one does, the advice names it.
  if (problem && problem->kind == HotkeyBinding::Problem::Kind::commandTab && takenAdvice) problem.reset();
  if (problem) {
    message_ = problem->message();
    changed();
    return true;
  }
  for (const HotkeyBinding& other : conflicts_) {
    if (other == binding) {
      message_ = kConflict;
      changed();
      return true;
    }
  }
  if (std::optional<AdviceText> advice = takenAdvice ? takenAdvice(binding) : std::nullopt) {
    message_ = *advice;
    changed();
    return true;
  }
  const Role role = role_;
  std::function<void(const HotkeyBinding&)> onRecord = std::move(onRecord_);
  stop();
  if (onRecord) onRecord(binding);
  if (shift) {
    message_ = AdviceText(role == Role::summon ? kShiftSummon : kShiftCancel);
    changed();
  }
  return true;
}

}  // namespace quorvel
