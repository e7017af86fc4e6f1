#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quorvel {

// One trackpad of a contact-frame source; 0 is never a device.
using ContactDeviceId = uint64_t;

// The raw form in which a contact-frame source hands over one frame of a trackpad: an array of
// fixed-size records, one per contact, 96 bytes apart. Only these fields carry meaning; the other
// bytes are zero.
struct ContactRecord {
  static constexpr size_t stride = 96;
  static constexpr size_t identifierOffset = 16;  // int32: stable while the finger stays down
  static constexpr size_t stateOffset = 20;       // int32: 3 and 4 mean the finger is on the surface
  static constexpr size_t xOffset = 32;           // float: 0 (left) to 1 (right)
  static constexpr size_t yOffset = 36;           // float: 0 (near edge) to 1 (far edge): up is positive

  static constexpr int32_t stateTouching = 4;
  static constexpr int32_t stateLifted = 7;

  // Writes record `index` of `frame` (which must hold at least index + 1 records).
  static void write(std::vector<uint8_t>& frame, size_t index, int32_t identifier, int32_t state, float x,
                    float y) {
    uint8_t* r = frame.data() + index * stride;
    std::memcpy(r + identifierOffset, &identifier, 4);
    std::memcpy(r + stateOffset, &state, 4);
    std::memcpy(r + xOffset, &x, 4);
    std::memcpy(r + yOffset, &y, 4);
  }
  static int32_t identifier(const uint8_t* r) { return readAs<int32_t>(r + identifierOffset); }
  static int32_t state(const uint8_t* r) { return readAs<int32_t>(r + stateOffset); }
  static float x(const uint8_t* r) { return readAs<float>(r + xOffset); }
  static float y(const uint8_t* r) { return readAs<float>(r + yOffset); }

 private:
  template <class T>
  static T readAs(const uint8_t* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
  }
};

// Called on the source's own thread with the device, a pointer to the first record and the record
// count as the source reports it (it may be wrong: the receiver validates).
using ContactFrameCallback = std::function<void(ContactDeviceId device, const uint8_t* records, int32_t count)>;

// Raw multitouch frames of the trackpads. The operations mirror what a frame reader needs of the
// system: a one-time load, a list of the devices present, a callback per device, and starting and
// stopping each device. Frames arrive on the source's own thread (one thread for every device);
// the other operations may be called from any thread and never call a callback themselves.
class ContactFrameSource {
 public:
  struct LoadFailure {
    enum class Kind { wouldNotLoad, missingSymbol };
    Kind kind = Kind::wouldNotLoad;
    std::string text;  // the system's reason
  };

  virtual ~ContactFrameSource() = default;
  // Prepares the source once; a failure is final for the run.
  virtual std::optional<LoadFailure> load() = 0;
  // The trackpads present now, in a stable order; none when no trackpad can be read. The list is
  // the caller's until releaseDeviceList().
  virtual std::optional<std::vector<ContactDeviceId>> createDeviceList() = 0;
  virtual void releaseDeviceList(const std::vector<ContactDeviceId>& list) = 0;
  // One callback per device; registering again replaces it.
  virtual void registerCallback(ContactDeviceId device, ContactFrameCallback callback) = 0;
  virtual void unregisterCallback(ContactDeviceId device) = 0;
  // Frames flow between start and stop.
  virtual void start(ContactDeviceId device) = 0;
  virtual void stop(ContactDeviceId device) = 0;
  // Asks to be told when a trackpad may have been plugged in: `onArrival` then runs on the source's
  // thread (it replaces an earlier one). False when the system cannot say so; the caller then looks
  // again from time to time. Called after a successful load().
  virtual bool watchArrivals(std::function<void()> onArrival) {
    (void)onArrival;
    return false;
  }
};

}  // namespace quorvel
