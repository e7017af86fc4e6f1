#include "platform/sim/SimContactSource.h"

namespace quorvel {

void SimContactSource::setLoadFailure(std::optional<LoadFailure> failure) {
  std::lock_guard lock(mutex_);
  loadFailure_ = std::move(failure);
}

void SimContactSource::setDevices(std::vector<ContactDeviceId> devices) {
  std::lock_guard lock(mutex_);
  devices_ = std::move(devices);
}

void SimContactSource::setTellsArrivals(bool tells) {
  std::lock_guard lock(mutex_);
  tellsArrivals_ = tells;
}

void SimContactSource::plugIn(std::vector<ContactDeviceId> devices) {
  std::function<void()> onArrival;
  {
    std::lock_guard lock(mutex_);
    devices_ = std::move(devices);
    onArrival = onArrival_;
  }
  if (onArrival) onArrival();
}

bool SimContactSource::watchArrivals(std::function<void()> onArrival) {
  std::lock_guard lock(mutex_);
  if (!tellsArrivals_) return false;
  calls_.push_back("watch");
  onArrival_ = std::move(onArrival);
  return true;
}

void SimContactSource::touch(ContactDeviceId device, const std::vector<Finger>& fingers) {
  std::vector<uint8_t> frame(fingers.size() * ContactRecord::stride, 0);
  for (size_t i = 0; i < fingers.size(); ++i) {
    ContactRecord::write(frame, i, fingers[i].identifier, fingers[i].state, fingers[i].x, fingers[i].y);
  }
  sendRaw(device, frame.empty() ? nullptr : frame.data(), static_cast<int32_t>(fingers.size()));
}

void SimContactSource::sendRaw(ContactDeviceId device, const uint8_t* records, int32_t count) {
  ContactFrameCallback callback;
  {
    std::lock_guard lock(mutex_);
    auto it = callbacks_.find(device);
    if (it == callbacks_.end() || !started_[device]) return;
    callback = it->second;
  }
  callback(device, records, count);
}

std::vector<std::string> SimContactSource::calls() const {
  std::lock_guard lock(mutex_);
  return calls_;
}

int SimContactSource::loadCount() const {
  std::lock_guard lock(mutex_);
  return loads_;
}

bool SimContactSource::isStarted(ContactDeviceId device) const {
  std::lock_guard lock(mutex_);
  auto it = started_.find(device);
  return it != started_.end() && it->second;
}

std::optional<ContactFrameSource::LoadFailure> SimContactSource::load() {
  std::lock_guard lock(mutex_);
  ++loads_;
  return loadFailure_;
}

std::optional<std::vector<ContactDeviceId>> SimContactSource::createDeviceList() {
  std::lock_guard lock(mutex_);
  calls_.push_back("list");
  if (devices_.empty()) return std::nullopt;
  return devices_;
}

void SimContactSource::releaseDeviceList(const std::vector<ContactDeviceId>& list) {
  std::lock_guard lock(mutex_);
  std::string names;
  for (ContactDeviceId d : list) names += (names.empty() ? "" : ",") + std::to_string(d);
  calls_.push_back("release " + names);
}

void SimContactSource::registerCallback(ContactDeviceId device, ContactFrameCallback callback) {
  std::lock_guard lock(mutex_);
  callbacks_[device] = std::move(callback);
  calls_.push_back("register " + std::to_string(device));
}

void SimContactSource::unregisterCallback(ContactDeviceId device) {
  std::lock_guard lock(mutex_);
  callbacks_.erase(device);
  calls_.push_back("unregister " + std::to_string(device));
}

void SimContactSource::start(ContactDeviceId device) {
  std::lock_guard lock(mutex_);
  started_[device] = true;
  calls_.push_back("start " + std::to_string(device));
}

void SimContactSource::stop(ContactDeviceId device) {
  std::lock_guard lock(mutex_);
  started_[device] = false;
  calls_.push_back("stop " + std::to_string(device));
}

}  // namespace quorvel
