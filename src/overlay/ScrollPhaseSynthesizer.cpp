#include "overlay/ScrollPhaseSynthesizer.h"

namespace quorvel {

ScrollPhaseSynthesizer::ScrollPhaseSynthesizer(Executor& main, std::function<void(const OverlayScrollEvent&)> deliver)
    : main_(main), deliver_(std::move(deliver)) {}

ScrollPhaseSynthesizer::~ScrollPhaseSynthesizer() { reset(); }

void ScrollPhaseSynthesizer::feed(const OverlayScrollEvent& event) {
  if (event.phase != ScrollPhase::none || event.momentumPhase != ScrollPhase::none) {
    deliver_(event);
    return;
  }
  OverlayScrollEvent phased = event;
  phased.phase = lastTime_ && event.timestamp - *lastTime_ < kSilence ? ScrollPhase::changed : ScrollPhase::began;
  lastTime_ = event.timestamp;
  if (endTimer_) main_.cancel(*endTimer_);
  endTimer_ = main_.postAfter(fromSeconds(kSilence), [this] {
    endTimer_.reset();
    end();
  });
  deliver_(phased);
}

void ScrollPhaseSynthesizer::end() {
  if (!lastTime_) return;
  OverlayScrollEvent ended;
  ended.timestamp = *lastTime_;
  ended.phase = ScrollPhase::ended;
  lastTime_.reset();
  deliver_(ended);
}

void ScrollPhaseSynthesizer::reset() {
  if (endTimer_) main_.cancel(*endTimer_);
  endTimer_.reset();
  lastTime_.reset();
}

}  // namespace quorvel
