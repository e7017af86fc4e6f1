#include "app/MultitouchStream.h"

#include <cmath>
#include <cstdio>

namespace quorvel {

MultitouchStream::MultitouchStream(ContactFrameSource& source, Executor& background)
    : source_(source), background_(background) {}

void MultitouchStream::setHandler(Handler handler) {
  lock_.withLock([&] { handler_ = std::move(handler); });
}

std::vector<ContactDeviceId> MultitouchStream::adoptDevices() {
  return lock_.withLock([&]() -> std::vector<ContactDeviceId> {
    if (isRuledOut_ || !devices_.empty()) return {};
    auto list = source_.createDeviceList();
    if (!list) return {};
    std::vector<ContactDeviceId> adopted;
    for (ContactDeviceId d : *list) {
      if (d != 0) adopted.push_back(d);
    }
    if (adopted.empty()) {
      source_.releaseDeviceList(*list);
      return {};
    }
    deviceList_ = std::move(*list);
    devices_ = adopted;
    return adopted;
  });
}

MultitouchStream::Taken MultitouchStream::takeDevices() {
  return lock_.withLock([&] {
    Taken taken{std::move(devices_), std::move(deviceList_)};
    devices_.clear();
    deviceList_.clear();
    handler_ = nullptr;
    return taken;
  });
}

bool MultitouchStream::isRunning() const {
  return lock_.withLock([&] { return !devices_.empty(); });
}

bool MultitouchStream::isRuledOut() const {
  return lock_.withLock([&] { return isRuledOut_; });
}

ContactFrameCallback MultitouchStream::callback() {
  std::weak_ptr<MultitouchStream> weak = weak_from_this();
  return [weak](ContactDeviceId device, const uint8_t* records, int32_t count) {
    if (auto self = weak.lock()) self->receiveFrame(device, records, count);
  };
}

void MultitouchStream::receiveFrame(ContactDeviceId device, const uint8_t* records, int32_t count) {
  if (device == 0) return;
  if (static_cast<uint32_t>(count) > static_cast<uint32_t>(maximumContacts)) {
    ruleOut("a frame reported " + std::to_string(count) + " fingers");
    return;
  }
  if (count >= 1 && records == nullptr) {
    ruleOut("a frame reported " + std::to_string(count) + " fingers and carried none");
    return;
  }
  std::vector<MultitouchContact> contacts;
  contacts.reserve(static_cast<size_t>(count));
  for (int32_t i = 0; i < count; ++i) {
    const uint8_t* r = records + static_cast<size_t>(i) * ContactRecord::stride;
    const float x = ContactRecord::x(r);
    const float y = ContactRecord::y(r);
    auto inRange = [](float v) { return std::isfinite(v) && v >= lowestCoordinate && v <= highestCoordinate; };
    if (!inRange(x) || !inRange(y)) {
      char reason[96];
      std::snprintf(reason, sizeof reason, "a finger was reported at %.4f, %.4f", static_cast<double>(x),
                    static_cast<double>(y));
      ruleOut(reason);
      return;
    }
    const int32_t state = ContactRecord::state(r);
    contacts.push_back({ContactRecord::identifier(r), {x, y}, state == 3 || state == 4});
  }

  bool logForeign = false;
  Handler handler;
  size_t index = 0;
  lock_.withLock([&] {
    if (isRuledOut_ || !handler_) return;
    for (size_t i = 0; i < devices_.size(); ++i) {
      if (devices_[i] == device) {
        handler = handler_;
        index = i;
        return;
      }
    }
    if (!hasLoggedForeignDevice_) {
      hasLoggedForeignDevice_ = true;
      logForeign = true;
    }
  });
  if (logForeign) logger_.error("A contact frame arrived from a trackpad this app never started, and is ignored");
  if (handler) handler(index, contacts);
}

void MultitouchStream::ruleOut(const std::string& reason) {
  std::optional<Taken> taken;
  lock_.withLock([&] {
    if (isRuledOut_) return;
    isRuledOut_ = true;
    handler_ = nullptr;
    taken = Taken{std::move(devices_), std::move(deviceList_)};
    devices_.clear();
    deviceList_.clear();
  });
  if (!taken) return;
  logger_.error(
      "The trackpad contact frames no longer match the layout this app reads them with (%{public}s). Summon with "
      "a swipe is switched off for this launch.",
      reason);
  ContactFrameSource* source = &source_;
  background_.post([source, taken = std::move(*taken)] {
    for (ContactDeviceId d : taken.devices) {
      source->stop(d);
      source->unregisterCallback(d);
    }
    if (!taken.list.empty()) source->releaseDeviceList(taken.list);
  });
}

}  // namespace quorvel
