#pragma once

#include <functional>

namespace quorvel {

// One frame of a display link: the media time (seconds) at which the frame is due on screen.
struct DisplayLinkUpdate {
  double targetTimestamp = 0;
};

// The frame source of a render thread, in place of the display's own link: run() delivers updates
// on the calling (render) thread at the display's rate while not paused, and returns after stop().
// setPaused, setRefreshRate and stop may be called from any thread; a link is run once.
class DisplayLink {
 public:
  virtual ~DisplayLink() = default;
  virtual void run(const std::function<void(const DisplayLinkUpdate&)>& onUpdate) = 0;
  virtual void setPaused(bool paused) = 0;
  // Frames a second; a rate that is not above 0 (unknown) paces at 60.
  virtual void setRefreshRate(double framesPerSecond) = 0;
  virtual void stop() = 0;
  // Runs `task` on the link's thread between updates, paused or not, before the next update; a task
  // still waiting when run() returns is dropped. A link with no thread of its own to run it on
  // drops it.
  virtual void perform(std::function<void()> task) { (void)task; }
};

}  // namespace quorvel
