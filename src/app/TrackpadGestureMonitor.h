#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string_view>

#include <nlohmann/json.hpp>

#include "app/GestureState.h"
#include "app/MultitouchDevice.h"
#include "app/SwipeMotion.h"
#include "base/Executor.h"
#include "base/Logger.h"
#include "base/Subscription.h"
#include "base/UncheckedBox.h"
#include "platform/ContactFrameSource.h"
#include "settings/AppSettings.h"

namespace quorvel {

// Summon with a swipe: listens to every trackpad through the contact-frame source, recognises a
// swipe of the chosen number of fingers along the chosen axis ("summonGesture",
// "summonSwipeDirection", followed live), and hands each recognised motion to onSwipe on the main
// executor. With no trackpad it waits for the source to tell of one plugged in, or, where the source
// cannot, retries every 3 s; a stream whose frames break the record layout is switched off for the
// run.
//
// Threads: start, reconfigure, the retry and onSwipe run on the main executor; frames are recognised
// on the source's thread under the gesture lock (one lookup and one recognizer update per frame);
// a motion reaches the main executor by an asynchronous post that holds the monitor weakly.
class TrackpadGestureMonitor : public std::enable_shared_from_this<TrackpadGestureMonitor> {
 public:
  static constexpr Duration retryInterval = std::chrono::seconds(3);

  // `background` runs the device stop after a rule-out. All four must outlive the monitor, and the
  // source must be stopped (destroyed) before the executors: a frame still arriving posts its swipe,
  // which finds the monitor gone and does nothing.
  static std::shared_ptr<TrackpadGestureMonitor> create(AppSettings& settings, ContactFrameSource& source,
                                                        Executor& main, Executor& background);
  ~TrackpadGestureMonitor();
  TrackpadGestureMonitor(const TrackpadGestureMonitor&) = delete;
  TrackpadGestureMonitor& operator=(const TrackpadGestureMonitor&) = delete;

  // Called on the main executor; set once before start().
  std::function<void(SwipeMotion)> onSwipe;

  // Follows the settings from now on (once) and applies them.
  void start();
  // Applies the current settings: on, it listens (or retries); off, it lets go of the trackpads.
  void reconfigure();

  // Reads one preference of a settings domain of the system; none when the domain or key is absent.
  using PreferenceReader = std::function<std::optional<nlohmann::json>(std::string_view suite, std::string_view key)>;
  // Whether the system answers the same swipe itself (true also when that cannot be told).
  static bool systemGestureConflicts(AppSettings::SummonGesture gesture, AppSettings::SummonSwipeDirection direction,
                                     const PreferenceReader& read);

  std::optional<int> requiredFingers() const { return requiredFingers_; }
  bool isRetryScheduled() const { return isRetryScheduled_; }
  MultitouchDevice& device() { return device_; }

 private:
  TrackpadGestureMonitor(AppSettings& settings, ContactFrameSource& source, Executor& main, Executor& background);

  bool attachStream();
  void waitForTrackpad();
  void scheduleRetry();
  void retryAttach();

  AppSettings& settings_;
  Executor& main_;
  MultitouchDevice device_;
  std::shared_ptr<UncheckedBox<GestureState>> gesture_;
  std::optional<int> requiredFingers_;
  bool isRetryScheduled_ = false;
  bool hasLoggedMissingTrackpad_ = false;
  bool isWatchingArrivals_ = false;
  Subscription defaultsObserver_;
  const Logger logger_{"TrackpadGesture"};
};

}  // namespace quorvel
