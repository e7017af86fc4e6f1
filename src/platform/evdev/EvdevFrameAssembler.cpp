#include "platform/evdev/EvdevFrameAssembler.h"

#include <linux/input.h>

#include <algorithm>

#include "platform/ContactFrameSource.h"

namespace quorvel {

namespace {
constexpr int kMaximumSlots = 64;
}

EvdevFrameAssembler::EvdevFrameAssembler(int slots, AxisRange x, AxisRange y)
    : slots_(static_cast<size_t>(std::clamp(slots, 1, kMaximumSlots))), x_(x), y_(y) {}

float EvdevFrameAssembler::normalised(int32_t value, AxisRange range) {
  const double span = static_cast<double>(range.maximum) - range.minimum;
  if (span <= 0) return 0.5f;
  return static_cast<float>((static_cast<double>(value) - range.minimum) / span);
}

void EvdevFrameAssembler::setCurrentSlot(int slot) {
  if (slot >= 0 && slot < static_cast<int>(slots_.size())) current_ = slot;
}

void EvdevFrameAssembler::setSlot(int slot, int32_t trackingId, int32_t x, int32_t y, int32_t toolType) {
  if (slot < 0 || slot >= static_cast<int>(slots_.size())) return;
  slots_[static_cast<size_t>(slot)] = {trackingId, x, y, toolType == MT_TOOL_PALM};
}

int EvdevFrameAssembler::contactCount() const {
  return static_cast<int>(std::count_if(slots_.begin(), slots_.end(), [](const Slot& s) { return s.trackingId >= 0; }));
}

std::optional<std::vector<uint8_t>> EvdevFrameAssembler::feed(uint16_t type, uint16_t code, int32_t value) {
  if (type == EV_SYN) {
    if (code == SYN_DROPPED) {
      dropping_ = true;
      return std::nullopt;
    }
    if (code != SYN_REPORT) return std::nullopt;
    if (dropping_) {
      dropping_ = false;
      return std::nullopt;
    }
    std::vector<uint8_t> frame(static_cast<size_t>(contactCount()) * ContactRecord::stride, 0);
    size_t index = 0;
    for (const Slot& s : slots_) {
      if (s.trackingId < 0) continue;
      ContactRecord::write(frame, index++, s.trackingId,
                           s.palm ? ContactRecord::stateLifted : ContactRecord::stateTouching, normalised(s.x, x_),
                           1.0f - normalised(s.y, y_));
    }
    return frame;
  }
  if (dropping_ || type != EV_ABS) return std::nullopt;
  if (code == ABS_MT_SLOT) {
    // A slot beyond the device's own count is ignored until the device names a valid one again.
    current_ = (value >= 0 && value < static_cast<int32_t>(slots_.size())) ? value : -1;
    return std::nullopt;
  }
  if (current_ < 0) return std::nullopt;
  Slot& slot = slots_[static_cast<size_t>(current_)];
  switch (code) {
    case ABS_MT_TRACKING_ID:
      if (value < 0) {
        // The position stays: the kernel sends only changed values, also for the next contact.
        slot.trackingId = -1;
        slot.palm = false;
      } else {
        slot.trackingId = value;
      }
      break;
    case ABS_MT_POSITION_X: slot.x = value; break;
    case ABS_MT_POSITION_Y: slot.y = value; break;
    case ABS_MT_TOOL_TYPE: slot.palm = value == MT_TOOL_PALM; break;
    default: break;
  }
  return std::nullopt;
}

}  // namespace quorvel
