#pragma once

#include <xcb/xcb.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quorvel {

// Every value _NET_ACTIVE_WINDOW takes, as the X server reports its changes, in order.
class ActiveWindowLog {
 public:
  explicit ActiveWindowLog(const std::string& display) {
    connection_ = xcb_connect(display.c_str(), nullptr);
    if (xcb_connection_has_error(connection_)) return;
    root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
    const char name[] = "_NET_ACTIVE_WINDOW";
    auto* reply = xcb_intern_atom_reply(connection_, xcb_intern_atom(connection_, 0, sizeof name - 1, name), nullptr);
    atom_ = reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
    std::free(reply);
    const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(connection_, root_, XCB_CW_EVENT_MASK, &mask);
    xcb_flush(connection_);
    thread_ = std::thread([this] { watch(); });
  }
  ~ActiveWindowLog() {
    stopping_ = true;
    // A change of our own wakes the thread's wait.
    xcb_change_property(connection_, XCB_PROP_MODE_APPEND, root_, atom_, XCB_ATOM_WINDOW, 32, 0, nullptr);
    xcb_flush(connection_);
    if (thread_.joinable()) thread_.join();
    xcb_disconnect(connection_);
  }

  std::vector<uint32_t> values() const {
    std::lock_guard lock(mutex_);
    return values_;
  }
  // The values since `mark` (an index into values()).
  std::vector<uint32_t> since(size_t mark) const {
    std::vector<uint32_t> all = values();
    return mark < all.size() ? std::vector<uint32_t>(all.begin() + static_cast<long>(mark), all.end())
                             : std::vector<uint32_t>{};
  }

 private:
  void watch() {
    while (!stopping_) {
      xcb_generic_event_t* event = xcb_wait_for_event(connection_);
      if (!event) return;
      const bool ours = (event->response_type & 0x7f) == XCB_PROPERTY_NOTIFY &&
                        reinterpret_cast<xcb_property_notify_event_t*>(event)->atom == atom_;
      std::free(event);
      if (!ours || stopping_) continue;
      auto* reply = xcb_get_property_reply(
          connection_, xcb_get_property(connection_, 0, root_, atom_, XCB_ATOM_WINDOW, 0, 1), nullptr);
      uint32_t value = 0;
      if (reply && xcb_get_property_value_length(reply) >= 4) value = *static_cast<uint32_t*>(xcb_get_property_value(reply));
      std::free(reply);
      std::lock_guard lock(mutex_);
      values_.push_back(value);
    }
  }

  xcb_connection_t* connection_ = nullptr;
  xcb_window_t root_ = 0;
  xcb_atom_t atom_ = XCB_ATOM_NONE;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
  mutable std::mutex mutex_;
  std::vector<uint32_t> values_;
};

}  // namespace quorvel
