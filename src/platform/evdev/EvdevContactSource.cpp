#include "platform/evdev/EvdevContactSource.h"

#include <fcntl.h>
#include <libevdev/libevdev.h>
#include <libudev.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/evdev/EvdevFrameAssembler.h"

namespace quorvel {

// One touchpad: its device file, its libevdev handle and its frame assembler. The handle is read
// on the reader thread only while the device is started; `io` keeps a close from racing a read.
class EvdevContactSource::Device {
 public:
  using Opener = std::function<int(const char*, int)>;
  Device(std::string path, Opener opener) : path_(std::move(path)), opener_(std::move(opener)) {}
  ~Device() { close(); }

  enum class OpenResult { opened, unreadable, notATouchpad };

  // Opens the device file and checks that it is a multitouch touchpad of protocol B.
  OpenResult open() {
    std::lock_guard lock(io);
    const int flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC;
    const int fd = opener_ ? opener_(path_.c_str(), flags) : ::open(path_.c_str(), flags);
    if (fd < 0) return (errno == EACCES || errno == EPERM) ? OpenResult::unreadable : OpenResult::notATouchpad;
    struct libevdev* evdev = nullptr;
    if (libevdev_new_from_fd(fd, &evdev) < 0) {
      ::close(fd);
      return OpenResult::notATouchpad;
    }
    const bool touchpad = libevdev_has_event_code(evdev, EV_ABS, ABS_MT_SLOT) &&
                          libevdev_has_event_code(evdev, EV_ABS, ABS_MT_TRACKING_ID) &&
                          libevdev_has_event_code(evdev, EV_ABS, ABS_MT_POSITION_X) &&
                          libevdev_has_event_code(evdev, EV_ABS, ABS_MT_POSITION_Y) &&
                          !libevdev_has_property(evdev, INPUT_PROP_DIRECT);
    if (!touchpad) {
      libevdev_free(evdev);
      ::close(fd);
      return OpenResult::notATouchpad;
    }
    const auto range = [&](unsigned code) {
      const input_absinfo* info = libevdev_get_abs_info(evdev, code);
      return EvdevFrameAssembler::AxisRange{info ? info->minimum : 0, info ? info->maximum : 0};
    };
    const int slots = libevdev_get_num_slots(evdev);
    assembler_ = std::make_unique<EvdevFrameAssembler>(slots, range(ABS_MT_POSITION_X), range(ABS_MT_POSITION_Y));
    // Fingers already down when the device is opened.
    for (int s = 0; s < slots; ++s) {
      assembler_->setSlot(s, libevdev_get_slot_value(evdev, s, ABS_MT_TRACKING_ID),
                          libevdev_get_slot_value(evdev, s, ABS_MT_POSITION_X),
                          libevdev_get_slot_value(evdev, s, ABS_MT_POSITION_Y),
                          libevdev_get_slot_value(evdev, s, ABS_MT_TOOL_TYPE));
    }
    assembler_->setCurrentSlot(libevdev_get_current_slot(evdev));
    fd_ = fd;
    evdev_ = evdev;
    return OpenResult::opened;
  }

  void close() {
    std::lock_guard lock(io);
    if (evdev_) libevdev_free(evdev_);
    if (fd_ >= 0) ::close(fd_);
    evdev_ = nullptr;
    fd_ = -1;
  }

  // Reads what is pending; each completed frame goes to `emit`. False when the device went away.
  template <class Emit>
  bool read(Emit&& emit) {
    std::lock_guard lock(io);
    if (!evdev_) return false;
    unsigned flags = LIBEVDEV_READ_FLAG_NORMAL;
    for (;;) {
      input_event ev{};
      const int rc = libevdev_next_event(evdev_, flags, &ev);
      if (rc == LIBEVDEV_READ_STATUS_SYNC) {
        // Events were dropped: libevdev now replays the device's current state, which is fed as
        // ordinary events (the dropped frame itself is gone).
        if (flags == LIBEVDEV_READ_FLAG_NORMAL) {
          flags = LIBEVDEV_READ_FLAG_SYNC;
          continue;
        }
      } else if (rc == -EAGAIN) {
        if (flags == LIBEVDEV_READ_FLAG_SYNC) {
          flags = LIBEVDEV_READ_FLAG_NORMAL;
          continue;
        }
        return true;
      } else if (rc != LIBEVDEV_READ_STATUS_SUCCESS) {
        return false;
      }
      if (auto frame = assembler_->feed(ev.type, ev.code, ev.value)) emit(*frame);
    }
  }

  const std::string& path() const { return path_; }
  int fd() const { return fd_; }

  // Guarded by the source's mutex.
  ContactFrameCallback callback;
  bool started = false;
  bool released = false;
  std::mutex io;

 private:
  const std::string path_;
  const Opener opener_;
  int fd_ = -1;
  struct libevdev* evdev_ = nullptr;
  std::unique_ptr<EvdevFrameAssembler> assembler_;
};

EvdevContactSource::EvdevContactSource() : EvdevContactSource(Options{}) {}

EvdevContactSource::EvdevContactSource(Options options) : options_(std::move(options)) {
  wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

EvdevContactSource::~EvdevContactSource() {
  stopReading();
  devices_.clear();
  if (monitor_) udev_monitor_unref(monitor_);
  if (udev_) udev_unref(udev_);
  if (wakeFd_ >= 0) ::close(wakeFd_);
}

std::optional<ContactFrameSource::LoadFailure> EvdevContactSource::load() {
  std::lock_guard lock(mutex_);
  if (options_.devicePaths) return std::nullopt;
  if (!udev_) udev_ = udev_new();
  if (!udev_) return LoadFailure{LoadFailure::Kind::wouldNotLoad, "udev cannot be reached"};
  if (struct udev_queue* queue = udev_queue_new(udev_)) {
    // Without the daemon no device event is ever sent, however the monitor is set up.
    udevRunning_ = udev_queue_get_udev_is_active(queue) != 0;
    udev_queue_unref(queue);
  }
  if (!monitor_) {
    monitor_ = udev_monitor_new_from_netlink(udev_, "udev");
    if (monitor_ && (udev_monitor_filter_add_match_subsystem_devtype(monitor_, "input", nullptr) < 0 ||
                     udev_monitor_enable_receiving(monitor_) < 0)) {
      udev_monitor_unref(monitor_);
      monitor_ = nullptr;
    }
  }
  return std::nullopt;
}

std::vector<std::string> EvdevContactSource::touchpadPaths() {
  if (options_.devicePaths) return *options_.devicePaths;
  std::vector<std::string> paths;
  if (!udev_) return paths;
  struct udev_enumerate* e = udev_enumerate_new(udev_);
  if (!e) return paths;
  udev_enumerate_add_match_subsystem(e, "input");
  udev_enumerate_add_match_property(e, "ID_INPUT_TOUCHPAD", "1");
  udev_enumerate_scan_devices(e);
  struct udev_list_entry* entry = nullptr;
  udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(e)) {
    struct udev_device* device = udev_device_new_from_syspath(udev_, udev_list_entry_get_name(entry));
    if (!device) continue;
    const char* node = udev_device_get_devnode(device);
    if (node && std::strncmp(node, "/dev/input/event", 16) == 0) paths.emplace_back(node);
    udev_device_unref(device);
  }
  udev_enumerate_unref(e);
  std::sort(paths.begin(), paths.end());
  return paths;
}

bool EvdevContactSource::touchpadPresent() {
  std::lock_guard lock(mutex_);
  if (!options_.devicePaths && !udev_) udev_ = udev_new();
  return !touchpadPaths().empty();
}

std::optional<std::vector<ContactDeviceId>> EvdevContactSource::createDeviceList() {
  std::lock_guard lock(mutex_);
  std::vector<ContactDeviceId> list;
  int unreadable = 0;
  std::string firstUnreadable;
  for (const auto& path : touchpadPaths()) {
    auto device = std::make_shared<Device>(path, options_.openFile);
    switch (device->open()) {
      case Device::OpenResult::opened:
        devices_[nextId_] = std::move(device);
        list.push_back(nextId_++);
        break;
      case Device::OpenResult::unreadable:
        if (unreadable++ == 0) firstUnreadable = path;
        break;
      case Device::OpenResult::notATouchpad:
        break;
    }
  }
  if (list.empty()) {
    if (unreadable > 0 && !loggedUnreadable_) {
      loggedUnreadable_ = true;
      logger_.notice("Touchpads are present but none can be read (%{public}s): summon with a swipe needs access to "
                     "the input devices (the \"input\" group); the keyboard shortcut keeps working",
                     firstUnreadable);
    }
    return std::nullopt;
  }
  return list;
}

void EvdevContactSource::releaseDeviceList(const std::vector<ContactDeviceId>& list) {
  std::vector<std::shared_ptr<Device>> closing;
  {
    std::lock_guard lock(mutex_);
    for (ContactDeviceId id : list) {
      auto it = devices_.find(id);
      if (it == devices_.end()) continue;
      it->second->released = true;
      it->second->started = false;
      closing.push_back(std::move(it->second));
      devices_.erase(it);
    }
  }
  for (auto& device : closing) device->close();
  wake();
}

void EvdevContactSource::registerCallback(ContactDeviceId device, ContactFrameCallback callback) {
  std::lock_guard lock(mutex_);
  if (auto it = devices_.find(device); it != devices_.end()) it->second->callback = std::move(callback);
}

void EvdevContactSource::unregisterCallback(ContactDeviceId device) {
  std::lock_guard lock(mutex_);
  if (auto it = devices_.find(device); it != devices_.end()) it->second->callback = nullptr;
}

void EvdevContactSource::start(ContactDeviceId device) {
  {
    std::lock_guard lock(mutex_);
    auto it = devices_.find(device);
    if (it == devices_.end()) return;
    it->second->started = true;
    ensureReader();
  }
  wake();
}

void EvdevContactSource::stop(ContactDeviceId device) {
  {
    std::lock_guard lock(mutex_);
    if (auto it = devices_.find(device); it != devices_.end()) it->second->started = false;
  }
  wake();
}

bool EvdevContactSource::watchArrivals(std::function<void()> onArrival) {
  bool watching = false;
  bool logNoWatch = false;
  {
    std::lock_guard lock(mutex_);
    watching = monitor_ && udevRunning_;
    if (watching) {
      onArrival_ = std::move(onArrival);
      ensureReader();
    } else if (!loggedNoWatch_ && !options_.devicePaths) {
      loggedNoWatch_ = true;
      logNoWatch = true;
    }
  }
  if (logNoWatch) {
    logger_.notice("udev is not running here, so a trackpad plugged in later can only be found by looking again "
                   "every few seconds");
  }
  if (watching) wake();
  return watching;
}

void EvdevContactSource::ensureReader() {
  if (!stopping_ && !reader_.joinable()) reader_ = std::thread([this] { readLoop(); });
}

void EvdevContactSource::stopReading() {
  std::thread reader;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    reader = std::move(reader_);
  }
  wake();
  if (reader.joinable()) reader.join();
}

void EvdevContactSource::wake() {
  if (wakeFd_ < 0) return;
  const uint64_t one = 1;
  [[maybe_unused]] auto written = ::write(wakeFd_, &one, sizeof one);
}

void EvdevContactSource::readLoop() {
  pthread_setname_np(pthread_self(), "TrackpadFrames");
  while (!stopping_) {
    std::vector<std::shared_ptr<Device>> active;
    std::vector<pollfd> fds{{wakeFd_, POLLIN, 0}};
    int monitorFd = -1;
    {
      std::lock_guard lock(mutex_);
      if (monitor_) monitorFd = udev_monitor_get_fd(monitor_);
      for (auto& [id, device] : devices_) {
        if (device->started && device->fd() >= 0) {
          active.push_back(device);
          fds.push_back({device->fd(), POLLIN, 0});
        }
      }
    }
    if (monitorFd >= 0) fds.push_back({monitorFd, POLLIN, 0});
    if (::poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) break;
    if (fds[0].revents & POLLIN) {
      uint64_t count = 0;
      [[maybe_unused]] auto got = ::read(wakeFd_, &count, sizeof count);
    }
    for (size_t i = 0; i < active.size(); ++i) {
      if (fds[i + 1].revents & (POLLIN | POLLERR | POLLHUP)) readDevice(active[i]);
    }
    if (monitorFd >= 0 && (fds.back().revents & POLLIN)) handleHotplug();
  }
}

void EvdevContactSource::readDevice(const std::shared_ptr<Device>& device) {
  ContactDeviceId id = 0;
  ContactFrameCallback callback;
  {
    std::lock_guard lock(mutex_);
    if (!device->started || device->released) return;
    for (const auto& [key, d] : devices_) {
      if (d == device) id = key;
    }
    callback = device->callback;
  }
  const bool present = device->read([&](const std::vector<uint8_t>& frame) {
    if (callback) callback(id, frame.empty() ? nullptr : frame.data(), static_cast<int32_t>(frame.size() / ContactRecord::stride));
  });
  if (!present) {
    // Gone: closed until udev reports it back at the same place.
    device->close();
  }
}

void EvdevContactSource::handleHotplug() {
  struct udev_device* event = udev_monitor_receive_device(monitor_);
  if (!event) return;
  const char* action = udev_device_get_action(event);
  const char* node = udev_device_get_devnode(event);
  const bool added = action && std::strcmp(action, "add") == 0;
  // A change may have made a touchpad readable (its access rules applied again).
  const bool changed = action && std::strcmp(action, "change") == 0;
  if (node && (added || changed)) {
    const char* touchpad = udev_device_get_property_value(event, "ID_INPUT_TOUCHPAD");
    const bool isTouchpad = touchpad && std::strcmp(touchpad, "1") == 0 && std::strncmp(node, "/dev/input/event", 16) == 0;
    std::vector<std::shared_ptr<Device>> returning;
    std::function<void()> onArrival;
    {
      std::lock_guard lock(mutex_);
      for (auto& [id, device] : devices_) {
        if (added && device->path() == node && device->fd() < 0 && !device->released) returning.push_back(device);
      }
      if (isTouchpad && returning.empty()) onArrival = onArrival_;
    }
    for (auto& device : returning) device->open();
    if (onArrival) onArrival();
  }
  udev_device_unref(event);
}

}  // namespace quorvel
