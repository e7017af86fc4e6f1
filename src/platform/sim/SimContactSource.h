#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/ContactFrameSource.h"

namespace quorvel {

// Simulated trackpads. A test decides which devices are present and whether loading fails, then
// touches: each frame goes, on the calling thread, to the callback registered for a started device.
// Every operation is recorded in order ("register 1", "start 1", "stop 1", "unregister 1",
// "release 1,2", "list") so tests can check what was asked of the system.
//
// Thread-safe; callbacks run without the source's lock.
class SimContactSource final : public ContactFrameSource {
 public:
  struct Finger {
    int32_t identifier = 0;
    float x = 0;
    float y = 0;
    int32_t state = ContactRecord::stateTouching;
  };

  void setLoadFailure(std::optional<LoadFailure> failure);
  void setDevices(std::vector<ContactDeviceId> devices);
  // Whether the source can tell of trackpads plugged in (it cannot by default).
  void setTellsArrivals(bool tells);
  // Makes `devices` the present ones and, when watched, tells of the arrival (on the calling thread).
  void plugIn(std::vector<ContactDeviceId> devices);

  // One frame from `device` (dropped unless started with a callback).
  void touch(ContactDeviceId device, const std::vector<Finger>& fingers);
  // A raw frame as the system might report it, right or wrong.
  void sendRaw(ContactDeviceId device, const uint8_t* records, int32_t count);

  std::vector<std::string> calls() const;
  int loadCount() const;
  bool isStarted(ContactDeviceId device) const;

  std::optional<LoadFailure> load() override;
  std::optional<std::vector<ContactDeviceId>> createDeviceList() override;
  void releaseDeviceList(const std::vector<ContactDeviceId>& list) override;
  void registerCallback(ContactDeviceId device, ContactFrameCallback callback) override;
  void unregisterCallback(ContactDeviceId device) override;
  void start(ContactDeviceId device) override;
  void stop(ContactDeviceId device) override;
  bool watchArrivals(std::function<void()> onArrival) override;

 private:
  mutable std::mutex mutex_;
  std::optional<LoadFailure> loadFailure_;
  int loads_ = 0;
  std::vector<ContactDeviceId> devices_;
  std::map<ContactDeviceId, ContactFrameCallback> callbacks_;
  std::map<ContactDeviceId, bool> started_;
  std::vector<std::string> calls_;
  bool tellsArrivals_ = false;
  std::function<void()> onArrival_;
};

}  // namespace quorvel
