#pragma once

#include <memory>
#include <optional>

#include "app/MultitouchStream.h"
#include "base/Logger.h"
#include "platform/ContactFrameSource.h"

namespace quorvel {

// The trackpad monitor's handle on the contact-frame source and its one stream: loads the source
// once on first need (a failure is logged and final), takes the devices and starts them, and stops
// them again.
//
// Main thread only; the stream it holds is shared with the frames' thread.
class MultitouchDevice {
 public:
  MultitouchDevice(ContactFrameSource& source, Executor& background);

  // The source loaded (loading it on the first call).
  bool isAvailable();
  bool isRunning() const { return stream_->isRunning(); }
  bool isRuledOut() const { return stream_->isRuledOut(); }
  MultitouchStream& stream() { return *stream_; }

  // Takes the devices present when none are held, registers and starts each; true when the stream
  // now runs.
  bool start();
  // Stops and unregisters every device held and lets go of the list. The rule-out stays.
  void stop();
  // Has the source tell of trackpads plugged in (on its own thread); false when it cannot.
  bool watchArrivals(std::function<void()> onArrival);

 private:
  ContactFrameSource& source_;
  std::shared_ptr<MultitouchStream> stream_;
  std::optional<bool> loaded_;
  const Logger logger_{"TrackpadGesture"};
};

}  // namespace quorvel
