#pragma once

#include <xcb/xcb.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quorvel {

// Every value _NET_ACTIVE_WINDOW takes, as the X server reports its changes, in order. The changes
// are read on a thread of the log's own, which may lag behind what the test has already seen on its
// connection: mark() and since() first catch up with every change the server made before the call.
class ActiveWindowLog {
 public:
  explicit ActiveWindowLog(const std::string& display) {
    connection_ = xcb_connect(display.c_str(), nullptr);
    if (xcb_connection_has_error(connection_)) return;
    root_ = xcb_setup_roots_iterator(xcb_get_setup(connection_)).data->root;
    atom_ = intern("_NET_ACTIVE_WINDOW");
    caughtUpAtom_ = intern("QUORVEL_ACTIVE_WINDOW_LOG");
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
  // Where the values stand now: an index into values() to read since().
  size_t mark() {
    catchUp();
    std::lock_guard lock(mutex_);
    return values_.size();
  }
  // The values since `mark`.
  std::vector<uint32_t> since(size_t mark) {
    catchUp();
    std::vector<uint32_t> all = values();
    return mark < all.size() ? std::vector<uint32_t>(all.begin() + static_cast<long>(mark), all.end())
                             : std::vector<uint32_t>{};
  }

 private:
  xcb_atom_t intern(const std::string& name) {
    auto* reply = xcb_intern_atom_reply(
        connection_, xcb_intern_atom(connection_, 0, static_cast<uint16_t>(name.size()), name.c_str()), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
  }
  // A change of a property of the log's own comes to the thread after every change the server made
  // before it: once the thread has seen it, it has read those.
  void catchUp() {
    if (!thread_.joinable()) return;
    uint64_t wanted = 0;
    {
      std::lock_guard lock(mutex_);
      wanted = ++catchUpsAsked_;
    }
    xcb_change_property(connection_, XCB_PROP_MODE_APPEND, root_, caughtUpAtom_, XCB_ATOM_INTEGER, 32, 0, nullptr);
    xcb_flush(connection_);
    std::unique_lock lock(mutex_);
    caughtUp_.wait_for(lock, std::chrono::seconds(10), [&] { return catchUpsSeen_ >= wanted || ended_; });
  }

  void watch() {
    while (!stopping_) {
      xcb_generic_event_t* event = xcb_wait_for_event(connection_);
      if (!event) break;
      const bool property = (event->response_type & 0x7f) == XCB_PROPERTY_NOTIFY;
      const xcb_atom_t atom =
          property ? reinterpret_cast<xcb_property_notify_event_t*>(event)->atom : xcb_atom_t{XCB_ATOM_NONE};
      std::free(event);
      if (property && atom == caughtUpAtom_) {
        std::lock_guard lock(mutex_);
        ++catchUpsSeen_;
        caughtUp_.notify_all();
        continue;
      }
      if (!property || atom != atom_ || stopping_) continue;
      auto* reply = xcb_get_property_reply(
          connection_, xcb_get_property(connection_, 0, root_, atom_, XCB_ATOM_WINDOW, 0, 1), nullptr);
      uint32_t value = 0;
      if (reply && xcb_get_property_value_length(reply) >= 4) value = *static_cast<uint32_t*>(xcb_get_property_value(reply));
      std::free(reply);
      std::lock_guard lock(mutex_);
      values_.push_back(value);
    }
    std::lock_guard lock(mutex_);
    ended_ = true;
    caughtUp_.notify_all();
  }

  xcb_connection_t* connection_ = nullptr;
  xcb_window_t root_ = 0;
  xcb_atom_t atom_ = XCB_ATOM_NONE;
  xcb_atom_t caughtUpAtom_ = XCB_ATOM_NONE;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
  mutable std::mutex mutex_;
  std::condition_variable caughtUp_;
  uint64_t catchUpsAsked_ = 0;
  uint64_t catchUpsSeen_ = 0;
  bool ended_ = false;
  std::vector<uint32_t> values_;
};

}  // namespace quorvel
