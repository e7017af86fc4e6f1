#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace quorvel {

// Turns the event stream of one multitouch touchpad (Linux multitouch protocol B: slots, tracking
// ids, positions, SYN_REPORT) into contact frames in the record layout of ContactFrameSource.
// Positions are normalised with the device's axis ranges, y turned so that up is positive. A palm
// (tool type MT_TOOL_PALM) is reported off the surface. After SYN_DROPPED everything up to the next
// SYN_REPORT is ignored; the device's resynchronisation events that follow restore the slots.
//
// A plain state machine with no input or output of its own: one per device, used on one thread.
class EvdevFrameAssembler {
 public:
  struct AxisRange {
    int32_t minimum = 0;
    int32_t maximum = 0;
  };

  // `slots` is the number of multitouch slots of the device (ABS_MT_SLOT's maximum + 1), at most 64.
  EvdevFrameAssembler(int slots, AxisRange x, AxisRange y);

  // Feeds one event. Answers a frame on SYN_REPORT: the records (ContactRecord::stride bytes each)
  // of the contacts down, in slot order.
  std::optional<std::vector<uint8_t>> feed(uint16_t type, uint16_t code, int32_t value);

  // The slot the next slot events apply to (for a device opened while fingers are down).
  void setCurrentSlot(int slot);
  // The state of one slot as the device reports it now (for a device opened while fingers are
  // down, from its current slot values).
  void setSlot(int slot, int32_t trackingId, int32_t x, int32_t y, int32_t toolType);

  int contactCount() const;

 private:
  struct Slot {
    int32_t trackingId = -1;
    int32_t x = 0;
    int32_t y = 0;
    bool palm = false;
  };
  static float normalised(int32_t value, AxisRange range);

  std::vector<Slot> slots_;
  AxisRange x_;
  AxisRange y_;
  int current_ = 0;
  bool dropping_ = false;
};

}  // namespace quorvel
