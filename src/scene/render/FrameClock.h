#pragma once

#include <condition_variable>
#include <mutex>
#include <vector>

#include "base/Clock.h"
#include "scene/render/DisplayLink.h"

namespace quorvel {

// The render thread's own frame clock: updates at the monitor's refresh rate (60 a second when the
// rate is unknown), each due at the next multiple of the frame period on `clock`; a frame that
// comes late is not made up for (the next is due one period after the late one's slot). The first
// update after an unpause is due at once: a summon's first frame does not wait for the next slot.
// Waits in real time for what `clock` says is left, so it wants a clock that moves by itself.
//
// `maximumFramesPerSecond` (above 0) caps the rate whatever the display's: a device that draws on
// the CPU spends half as much on an animation at 30 frames a second as at 60.
class FrameClock final : public DisplayLink {
 public:
  explicit FrameClock(const Clock& clock, double framesPerSecond = 60, double maximumFramesPerSecond = 0);

  void run(const std::function<void(const DisplayLinkUpdate&)>& onUpdate) override;
  void setPaused(bool paused) override;
  void setRefreshRate(double framesPerSecond) override;
  void stop() override;
  void perform(std::function<void()> task) override;

  // The period for a rate: 1/60 s when the rate is not above 0 or not finite.
  static Duration periodFor(double framesPerSecond);

 private:
  Duration cappedPeriod(double framesPerSecond) const;

  const Clock& clock_;
  std::mutex mutex_;
  std::condition_variable changed_;
  Duration period_;
  Duration shortestPeriod_{0};
  bool paused_ = true;
  bool stopped_ = false;
  // Set by an unpause: the next update is due now.
  bool startNow_ = false;
  std::vector<std::function<void()>> tasks_;
};

}  // namespace quorvel
