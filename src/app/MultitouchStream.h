#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/SwipeRecognizer.h"
#include "base/Executor.h"
#include "base/Lock.h"
#include "base/Logger.h"
#include "platform/ContactFrameSource.h"

namespace quorvel {

// The contact-frame stream of the trackpads: the frame handler, the devices that were registered
// and started, the device list they came from, and whether the stream was ruled out for the run.
// receiveFrame() is the frame callback: it checks each raw frame against the record layout, turns
// it into contacts and hands them to the handler with the device's index. A frame that breaks the
// layout rules rules the stream out: swipe recognition is off until the program ends, and the
// devices are stopped from the background executor (never from the frame's own thread).
//
// Thread-safe. One lock guards every field; it is held for a lookup or a swap, and across the
// source's device-list call, never while the handler or another source call runs.
class MultitouchStream : public std::enable_shared_from_this<MultitouchStream> {
 public:
  static constexpr int32_t maximumContacts = 16;
  static constexpr float lowestCoordinate = -0.05f;
  static constexpr float highestCoordinate = 1.05f;

  using Handler = std::function<void(size_t deviceIndex, const std::vector<MultitouchContact>& contacts)>;

  MultitouchStream(ContactFrameSource& source, Executor& background);

  // Replaces the handler (the next frame sees either the old or the new one).
  void setHandler(Handler handler);
  // Takes the source's devices when none are held and the stream is not ruled out; answers the
  // devices newly taken, to be registered and started by the caller.
  std::vector<ContactDeviceId> adoptDevices();
  // Takes the devices and the list out and clears the handler, for stopping.
  struct Taken {
    std::vector<ContactDeviceId> devices;
    std::vector<ContactDeviceId> list;
  };
  Taken takeDevices();

  bool isRunning() const;
  bool isRuledOut() const;

  // The frame callback, on the source's thread.
  void receiveFrame(ContactDeviceId device, const uint8_t* records, int32_t count);
  // A callback for the source that feeds receiveFrame while the stream lives.
  ContactFrameCallback callback();

 private:
  void ruleOut(const std::string& reason);

  ContactFrameSource& source_;
  Executor& background_;
  const Logger logger_{"TrackpadGesture"};
  mutable Lock lock_;
  Handler handler_;
  std::vector<ContactDeviceId> devices_;
  std::vector<ContactDeviceId> deviceList_;
  bool isRuledOut_ = false;
  bool hasLoggedForeignDevice_ = false;
};

}  // namespace quorvel
