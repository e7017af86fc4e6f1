#include "platform/KeyStreamOrder.h"

namespace quorvel {

void KeyStreamOrder::posted(Stamp stamp) {
  std::lock_guard lock(mutex_);
  posted_.push_back(stamp);
}

void KeyStreamOrder::beginRun() {
  std::lock_guard lock(mutex_);
  running_.reset();
  if (posted_.empty()) return;
  running_ = posted_.front();
  posted_.pop_front();
}

void KeyStreamOrder::endRun() {
  std::lock_guard lock(mutex_);
  running_.reset();
}

std::optional<KeyStreamOrder::Stamp> KeyStreamOrder::running() const {
  std::lock_guard lock(mutex_);
  return running_;
}

bool KeyStreamOrder::typedBefore(uint32_t overlayTime, Stamp stamp) {
  if (overlayTime == 0 || stamp.time == 0) return true;
  const auto difference = static_cast<int32_t>(overlayTime - stamp.time);
  return stamp.froze ? difference < 0 : difference <= 0;
}

bool KeyStreamOrder::overlayKeyMayAct(uint32_t time) const {
  std::lock_guard lock(mutex_);
  if (running_ && !typedBefore(time, *running_)) return false;
  // The posted hops are in the order typed: the oldest decides.
  return posted_.empty() || typedBefore(time, posted_.front());
}

size_t KeyStreamOrder::waiting() const {
  std::lock_guard lock(mutex_);
  return posted_.size();
}

}  // namespace quorvel
