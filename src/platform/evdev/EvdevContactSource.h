#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/Logger.h"
#include "platform/ContactFrameSource.h"

struct udev;
struct udev_monitor;

namespace quorvel {

// The touchpads of a Linux machine: /dev/input/event* devices that udev marks as touchpads and that
// speak multitouch protocol B, read with libevdev on one reader thread, each through its own frame
// assembler. A started device that goes away (unplugged, a Bluetooth trackpad out of range) is
// opened again when udev reports it back at the same place; a touchpad that arrives new is found by
// the next device list, and the arrival watch tells of it. Without a running udev daemon (a
// container) there is no watch, and one line says so.
//
// When touchpads are present but none can be opened (the user is not in the "input" group), one
// line says so, once per run; the list is then empty and the keyboard shortcut is unaffected.
//
// Thread-safe. Callbacks run on the reader thread ("TrackpadFrames") with no lock held.
class EvdevContactSource final : public ContactFrameSource {
 public:
  struct Options {
    // Device files to try instead of asking udev (for tests); no hot-plug then.
    std::optional<std::vector<std::string>> devicePaths;
    // Opens a device file as open(2) does (for tests).
    std::function<int(const char* path, int flags)> openFile;
  };

  EvdevContactSource();
  explicit EvdevContactSource(Options options);
  // Stops reading (stopReading()) and closes every device.
  ~EvdevContactSource() override;
  // Ends the reader thread, waiting for a callback it is making: no callback runs after, and no
  // device is read again. Safe to call more than once; not from a callback.
  void stopReading();
  EvdevContactSource(const EvdevContactSource&) = delete;
  EvdevContactSource& operator=(const EvdevContactSource&) = delete;

  std::optional<LoadFailure> load() override;
  std::optional<std::vector<ContactDeviceId>> createDeviceList() override;
  void releaseDeviceList(const std::vector<ContactDeviceId>& list) override;
  void registerCallback(ContactDeviceId device, ContactFrameCallback callback) override;
  void unregisterCallback(ContactDeviceId device) override;
  void start(ContactDeviceId device) override;
  void stop(ContactDeviceId device) override;
  bool watchArrivals(std::function<void()> onArrival) override;

  // Whether udev knows of a touchpad now, readable or not (the tour shows the swipe only then).
  bool touchpadPresent();

 private:
  class Device;

  std::vector<std::string> touchpadPaths();
  void ensureReader();
  void wake();
  void readLoop();
  void readDevice(const std::shared_ptr<Device>& device);
  void handleHotplug();

  const Options options_;
  const Logger logger_{"TrackpadGesture"};
  std::mutex mutex_;
  struct udev* udev_ = nullptr;
  struct udev_monitor* monitor_ = nullptr;
  std::map<ContactDeviceId, std::shared_ptr<Device>> devices_;
  ContactDeviceId nextId_ = 1;
  bool loggedUnreadable_ = false;
  bool udevRunning_ = false;
  bool loggedNoWatch_ = false;
  std::function<void()> onArrival_;

  std::atomic<bool> stopping_{false};
  int wakeFd_ = -1;
  std::thread reader_;
};

}  // namespace quorvel
