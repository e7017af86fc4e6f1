#include "platform/sim/SimKeyEventSource.h"

#include <algorithm>

namespace quorvel {

void SimKeyEventSource::setInterest(std::vector<KeyInterest> keys) {
  std::lock_guard lock(mutex_);
  interest_ = std::move(keys);
  ++interestUpdates_;
}

bool SimKeyEventSource::install(Handler handler) {
  std::lock_guard lock(mutex_);
  ++installAttempts_;
  if (handler_) return true;
  if (refusing_) return false;
  handler_ = std::move(handler);
  enabled_ = true;
  return true;
}

void SimKeyEventSource::enable() {
  std::lock_guard lock(mutex_);
  ++enableCount_;
  if (handler_) enabled_ = true;
}

void SimKeyEventSource::setOwnershipHandler(OwnershipHandler handler) {
  std::lock_guard lock(mutex_);
  ownership_ = std::move(handler);
}

void SimKeyEventSource::askForRefusedKeys() {
  std::lock_guard lock(mutex_);
  ++asks_;
}

int SimKeyEventSource::asks() const {
  std::lock_guard lock(mutex_);
  return asks_;
}

void SimKeyEventSource::reportOwnership(const KeyInterest& key, bool held) {
  OwnershipHandler handler;
  {
    std::lock_guard lock(mutex_);
    handler = ownership_;
  }
  if (handler) handler(key, held);
}

void SimKeyEventSource::setRefusing(bool refusing) {
  std::lock_guard lock(mutex_);
  refusing_ = refusing;
}

KeyVerdict SimKeyEventSource::send(const KeyEvent& event) {
  Handler handler;
  {
    std::lock_guard lock(mutex_);
    if (enabled_ || event.type == KeyEvent::Type::disabledByTimeout ||
        event.type == KeyEvent::Type::disabledByUserInput) {
      handler = handler_;
    }
  }
  // The handler runs without the lock, as the tap thread runs it.
  const KeyVerdict verdict = handler ? handler(event) : KeyVerdict::deliver;
  if (event.type == KeyEvent::Type::keyDown && verdict == KeyVerdict::deliver) {
    std::lock_guard lock(mutex_);
    delivered_.push_back(event);
  }
  return verdict;
}

KeyVerdict SimKeyEventSource::keyDown(int64_t keyCode, uint64_t flags) {
  return send({KeyEvent::Type::keyDown, keyCode, flags});
}

void SimKeyEventSource::flagsChanged(uint64_t flags) { send({KeyEvent::Type::flagsChanged, 0, flags}); }

bool SimKeyEventSource::disable(KeyEvent::Type why) {
  {
    std::lock_guard lock(mutex_);
    enabled_ = false;
  }
  send({why, 0, 0});
  return isEnabled();
}

bool SimKeyEventSource::isInstalled() const {
  std::lock_guard lock(mutex_);
  return static_cast<bool>(handler_);
}

bool SimKeyEventSource::isEnabled() const {
  std::lock_guard lock(mutex_);
  return enabled_;
}

int SimKeyEventSource::installAttempts() const {
  std::lock_guard lock(mutex_);
  return installAttempts_;
}

int SimKeyEventSource::enableCount() const {
  std::lock_guard lock(mutex_);
  return enableCount_;
}

std::vector<KeyInterest> SimKeyEventSource::interest() const {
  std::lock_guard lock(mutex_);
  return interest_;
}

int SimKeyEventSource::interestUpdates() const {
  std::lock_guard lock(mutex_);
  return interestUpdates_;
}

std::vector<KeyEvent> SimKeyEventSource::delivered() const {
  std::lock_guard lock(mutex_);
  return delivered_;
}

void SimKeyEventSource::setHeldByAnotherProgram(const KeyInterest& key, bool held) {
  std::lock_guard lock(mutex_);
  std::erase(heldByOthers_, key);
  if (held) heldByOthers_.push_back(key);
}

bool SimKeyEventSource::heldByAnotherProgram(const KeyInterest& key) {
  std::lock_guard lock(mutex_);
  return std::find(heldByOthers_.begin(), heldByOthers_.end(), key) != heldByOthers_.end();
}

}  // namespace quorvel
