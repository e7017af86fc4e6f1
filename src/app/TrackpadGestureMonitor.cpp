#include "app/TrackpadGestureMonitor.h"

#include <cmath>

namespace quorvel {

std::shared_ptr<TrackpadGestureMonitor> TrackpadGestureMonitor::create(AppSettings& settings,
                                                                       ContactFrameSource& source, Executor& main,
                                                                       Executor& background) {
  return std::shared_ptr<TrackpadGestureMonitor>(new TrackpadGestureMonitor(settings, source, main, background));
}

TrackpadGestureMonitor::TrackpadGestureMonitor(AppSettings& settings, ContactFrameSource& source, Executor& main,
                                               Executor& background)
    : settings_(settings),
      main_(main),
      device_(source, background),
      gesture_(std::make_shared<UncheckedBox<GestureState>>()) {}

TrackpadGestureMonitor::~TrackpadGestureMonitor() = default;

void TrackpadGestureMonitor::start() {
  if (!defaultsObserver_.isActive()) {
    std::weak_ptr<TrackpadGestureMonitor> weak = weak_from_this();
    Executor& main = main_;
    defaultsObserver_ = settings_.store().addObserver([weak, &main] {
      main.post([weak] {
        if (auto self = weak.lock()) self->reconfigure();
      });
    });
  }
  reconfigure();
}

void TrackpadGestureMonitor::reconfigure() {
  using Gesture = AppSettings::SummonGesture;
  const Gesture gesture = settings_.summonGesture();
  const auto direction = settings_.summonSwipeDirection();
  std::optional<int> fingers;
  if (gesture == Gesture::threeFingers) fingers = 3;
  if (gesture == Gesture::fourFingers) fingers = 4;
  const auto axis = direction == AppSettings::SummonSwipeDirection::sideways ? SwipeRecognizer::Axis::horizontal
                                                                              : SwipeRecognizer::Axis::vertical;
  requiredFingers_ = fingers;

  if (fingers) {
    gesture_->withLock([&](GestureState& s) {
      if (!s.requiredFingers || *s.requiredFingers != *fingers || s.axis != axis) {
        s.requiredFingers = fingers;
        s.axis = axis;
        s.applySettings();
      }
    });
    if (device_.isRunning() || !device_.isAvailable() || device_.isRuledOut()) return;
    if (attachStream()) {
      logger_.info("Listening to the trackpads (%{public}ld fingers, %{public}s)", static_cast<long>(*fingers),
                   std::string(axis == SwipeRecognizer::Axis::horizontal ? "sideways" : "up"));
    } else {
      waitForTrackpad();
    }
    return;
  }

  auto off = [&](GestureState& s) {
    s.requiredFingers.reset();
    s.axis = axis;
    s.applySettings();
  };
  gesture_->withLock(off);
  if (!device_.isRunning()) return;
  logger_.info("Swipe to summon switched off, letting go of the trackpads");
  device_.stop();
  gesture_->withLock(off);
}

bool TrackpadGestureMonitor::attachStream() {
  std::weak_ptr<TrackpadGestureMonitor> weak = weak_from_this();
  auto gesture = gesture_;
  Executor* main = &main_;
  const Logger logger("TrackpadGesture");
  device_.stream().setHandler([gesture, weak, main, logger](size_t index, const std::vector<MultitouchContact>& contacts) {
    bool first = false;
    const auto motion = gesture->withLock([&](GestureState& s) -> std::optional<SwipeMotion> {
      first = !s.hasSeenFrame;
      s.hasSeenFrame = true;
      if (!s.requiredFingers) return std::nullopt;
      auto [it, added] = s.recognizers.try_emplace(index);
      if (added) {
        it->second.requiredFingers = *s.requiredFingers;
        it->second.axis = s.axis;
      }
      return it->second.feed(contacts);
    });
    if (first) logger.info("The multitouch stream is live: the first contact frame arrived");
    if (motion) {
      main->post([weak, motion] {
        auto self = weak.lock();
        if (self && self->onSwipe) self->onSwipe(*motion);
      });
    }
  });
  return device_.start();
}

void TrackpadGestureMonitor::waitForTrackpad() {
  // Told by the system when a trackpad is plugged in, the monitor sleeps until then; otherwise it
  // looks again every few seconds.
  if (!isWatchingArrivals_) {
    std::weak_ptr<TrackpadGestureMonitor> weak = weak_from_this();
    Executor* main = &main_;
    isWatchingArrivals_ = device_.watchArrivals([weak, main] {
      main->post([weak] {
        if (auto self = weak.lock()) self->retryAttach();
      });
    });
  }
  if (!hasLoggedMissingTrackpad_) {
    hasLoggedMissingTrackpad_ = true;
    logger_.notice(isWatchingArrivals_ ? "No trackpad to listen to yet, waiting for one to be plugged in"
                                       : "No trackpad to listen to yet, retrying every few seconds");
  }
  if (!isWatchingArrivals_) scheduleRetry();
}

void TrackpadGestureMonitor::scheduleRetry() {
  if (isRetryScheduled_) return;
  isRetryScheduled_ = true;
  std::weak_ptr<TrackpadGestureMonitor> weak = weak_from_this();
  main_.postAfter(retryInterval, [weak] {
    if (auto self = weak.lock()) self->retryAttach();
  });
}

void TrackpadGestureMonitor::retryAttach() {
  isRetryScheduled_ = false;
  if (!requiredFingers_ || device_.isRunning() || !device_.isAvailable() || device_.isRuledOut()) return;
  if (attachStream()) {
    logger_.info("A trackpad turned up, and the stream is running");
  } else if (!isWatchingArrivals_) {
    scheduleRetry();
  }
}

bool TrackpadGestureMonitor::systemGestureConflicts(AppSettings::SummonGesture gesture,
                                                    AppSettings::SummonSwipeDirection direction,
                                                    const PreferenceReader& read) {
  using Gesture = AppSettings::SummonGesture;
  if (gesture == Gesture::off) return false;
  const bool sideways = direction == AppSettings::SummonSwipeDirection::sideways;
  const bool three = gesture == Gesture::threeFingers;
  const char* key = sideways ? (three ? "TrackpadThreeFingerHorizSwipeGesture" : "TrackpadFourFingerHorizSwipeGesture")
                             : (three ? "TrackpadThreeFingerVertSwipeGesture" : "TrackpadFourFingerVertSwipeGesture");
  bool found = false;
  for (const char* suite : {"com.apple.AppleMultitouchTrackpad", "com.apple.driver.AppleBluetoothMultitouch.trackpad"}) {
    const auto value = read ? read(suite, key) : std::nullopt;
    if (!value || !value->is_number()) continue;
    found = true;
    // The integer value: a fraction of a whole number reads as zero.
    const bool nonZero = value->is_number_float() ? std::trunc(value->get<double>()) != 0 : value->get<int64_t>() != 0;
    if (nonZero) return true;
  }
  return !found;
}

}  // namespace quorvel
