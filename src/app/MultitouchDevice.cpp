#include "app/MultitouchDevice.h"

namespace quorvel {

MultitouchDevice::MultitouchDevice(ContactFrameSource& source, Executor& background)
    : source_(source), stream_(std::make_shared<MultitouchStream>(source, background)) {}

bool MultitouchDevice::isAvailable() {
  if (!loaded_) {
    const auto failure = source_.load();
    loaded_ = !failure;
    if (failure && failure->kind == ContactFrameSource::LoadFailure::Kind::wouldNotLoad) {
      logger_.error("The touchpad reader could not start (%{public}s), so summon with a swipe cannot work on this system.",
                    failure->text);
    } else if (failure) {
      logger_.error("The touchpad reader lacks something it needs, so summon with a swipe cannot work on this system.");
    }
  }
  return *loaded_;
}

bool MultitouchDevice::start() {
  if (!isAvailable()) return false;
  for (ContactDeviceId d : stream_->adoptDevices()) {
    source_.registerCallback(d, stream_->callback());
    source_.start(d);
  }
  return stream_->isRunning() && !stream_->isRuledOut();
}

void MultitouchDevice::stop() {
  auto taken = stream_->takeDevices();
  if (loaded_.value_or(false)) {
    for (ContactDeviceId d : taken.devices) {
      source_.stop(d);
      source_.unregisterCallback(d);
    }
    if (!taken.list.empty()) source_.releaseDeviceList(taken.list);
  }
}

bool MultitouchDevice::watchArrivals(std::function<void()> onArrival) {
  return isAvailable() && source_.watchArrivals(std::move(onArrival));
}

}  // namespace quorvel
