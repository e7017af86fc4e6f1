#pragma once

#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quorvel {

// The X11 backend's one connection to the X server: the xcb connection with its screen, the EWMH
// atoms, a cache of other interned atoms, property reads, and the event pump.
//
// Errors never escape: a request about a window that vanished in the meantime, or a property of an
// unexpected type, yields an absent reply (the error is counted and remembered, nothing else). Errors
// of requests that expect no reply arrive through the event stream and are absorbed by the pump.
// Only the readers and actions of this backend use this class; core code sees plain values.
//
// Thread-safe: xcb itself is, and the atom cache, the event queue and the error record are locked.
class X11Connection {
 public:
  // One X error that was absorbed: its code, the resource it named and the request that caused it.
  struct AbsorbedError {
    uint8_t code = 0;
    uint32_t resource = 0;
    uint8_t majorOpcode = 0;
    uint16_t minorOpcode = 0;
  };

  // A property's raw value: its type atom, its format (8, 16 or 32) and its bytes, and whether the
  // value was longer than the length asked for.
  struct Property {
    uint32_t type = 0;
    uint8_t format = 0;
    std::vector<uint8_t> bytes;
    bool truncated = false;

    // The value as 32-bit items (empty unless the format is 32).
    std::vector<uint32_t> values32() const;
    // The first 32-bit item, when there is one.
    std::optional<uint32_t> firstValue32() const;
  };

  struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
  };
  template <class T>
  using Reply = std::unique_ptr<T, FreeDeleter>;
  using Event = std::unique_ptr<xcb_generic_event_t, FreeDeleter>;

  // Connects to the display given (the DISPLAY environment variable when empty). Absent when the
  // server cannot be reached or the EWMH atoms cannot be interned.
  static std::unique_ptr<X11Connection> open(const std::string& displayName = {});
  ~X11Connection();
  X11Connection(const X11Connection&) = delete;
  X11Connection& operator=(const X11Connection&) = delete;

  xcb_connection_t* xcb() const { return connection_; }
  xcb_ewmh_connection_t* ewmh() { return &ewmh_; }
  int screenNumber() const { return screenNumber_; }
  xcb_screen_t* screen() const { return screen_; }
  uint32_t root() const { return screen_->root; }
  // True once the connection to the server is lost; every read then answers absent or empty.
  bool isBroken() const;

  // The atom of a name, interned on first use and cached; 0 when it cannot be interned.
  uint32_t atom(std::string_view name);
  // The name of an atom, asked once and cached; empty when the atom is unknown.
  std::string atomName(uint32_t atom);

  // Takes the reply of a request, absorbing its error: `reply(xcb_get_geometry_reply, cookie)`.
  template <class R, class C>
  Reply<R> reply(R* (*takeReply)(xcb_connection_t*, C, xcb_generic_error_t**), C cookie) {
    noteWait(cookie.sequence);
    xcb_generic_error_t* error = nullptr;
    R* r = takeReply(connection_, cookie, &error);
    if (error) {
      absorb(*error);
      std::free(error);
    }
    keepQueuedEvents();
    return Reply<R>(r);
  }
  // Counts a request sent directly with xcb by a reader of this backend, and hands its cookie back:
  // `connection.counted(xcb_get_geometry(...))`.
  template <class C>
  C counted(C cookie) {
    requests_.fetch_add(1, std::memory_order_relaxed);
    noteSent(cookie.sequence);
    return cookie;
  }
  // The requests counted so far: every property request, and every request the window readers
  // send (tests and benchmarks compare two readings).
  uint64_t requestCount() const { return requests_.load(std::memory_order_relaxed); }
  // The round trips made so far: waits for a reply (or a check) of a request that was sent after
  // the last wait began. Replies of requests sent together before one wait, counted ones, cost one
  // round trip between them. Exact while one thread sends; tests and benchmarks compare two readings.
  uint64_t roundTripCount() const { return roundTrips_.load(std::memory_order_relaxed); }
  // Checks a request sent with a _checked call; false (error absorbed) when it failed.
  bool check(xcb_void_cookie_t cookie);

  // Sends a request for a property; `type` 0 accepts any type. `maxLength` counts 32-bit units.
  xcb_get_property_cookie_t requestProperty(uint32_t window, uint32_t property, uint32_t type = 0,
                                            uint32_t maxLength = 16384);
  // Takes a property reply: absent when the window is gone, the property is not set, or its type is
  // not `type` (0 accepts any).
  std::optional<Property> takeProperty(xcb_get_property_cookie_t cookie, uint32_t type = 0);
  // Both at once (one round trip).
  std::optional<Property> property(uint32_t window, uint32_t property, uint32_t type = 0,
                                   uint32_t maxLength = 16384);

  // Sends every buffered request.
  void flush();
  // A round trip: every request sent before has been handled by the server (its errors queued).
  bool sync();

  // The server's current time, from the time stamp of a property change on a small window of our
  // own (made again when another client destroyed it); absent when no answer came within a second.
  std::optional<uint32_t> serverTime();
  // The same in two steps, so that other requests share its round trip: requestServerTime() sends
  // the request for a time stamp, takeServerTime() waits for it. In between, the request holds the
  // event stream (no pump runs, so none takes the stamp's event away): take it soon, on the same
  // thread, and call no pump or serverTime() before.
  struct TimeRequest {
    std::unique_lock<std::mutex> events;
    uint32_t stamp = 0;   // the stamp property's atom
    uint32_t window = 0;  // the window it is stamped on; 0 when nothing was sent
    xcb_void_cookie_t cookie{};
  };
  TimeRequest requestServerTime();
  std::optional<uint32_t> takeServerTime(TimeRequest request);

  // Handles every event that has arrived, without blocking, in order; X errors among them are
  // absorbed and not handed on. Answers how many events were handed to `handler`.
  size_t pumpEvents(const std::function<void(const xcb_generic_event_t&)>& handler = {});
  // The same, keeping the events: appends every event that has arrived to `into`, in order.
  size_t takeEvents(std::deque<Event>& into);
  // Waits up to `timeout` for an event to be ready to pump; true when one is.
  bool waitForEvents(std::chrono::milliseconds timeout);
  // Waits, without a time limit, until an event is ready to pump or wake() is called; false when
  // the connection is lost. Events that a reply read took off the socket while another thread
  // waited here count as ready: taking a reply wakes the waiter when it left events queued.
  bool waitForEventsOrWake();
  // Ends one wait of waitForEventsOrWake (or the next one, when none is waiting).
  void wake();
  // The socket to watch for readability in a caller's own loop.
  int fileDescriptor() const;
  // Asks for property and child-window changes on the root window (client lists, active window,
  // desktops), so that a pump sees them.
  void watchRoot();
  // The times waitForEventsOrWake looked at the socket: what an event thread's loop costs, one
  // poll each (tests and benchmarks compare two readings).
  uint64_t waitCount() const { return waits_.load(std::memory_order_relaxed); }

  // For a connection whose events no thread pumps (it carries requests alone, and another
  // connection takes the events): the events that reads of replies find are not kept for a pump
  // and wake no waiter. Errors among them are absorbed; the time stamps of serverTime() are kept
  // for its wait, a few at most.
  void setUnpumped();

  // The absorbed errors so far.
  uint64_t absorbedErrorCount() const;
  std::optional<AbsorbedError> lastAbsorbedError() const;

 private:
  X11Connection(xcb_connection_t* connection, int screenNumber, xcb_screen_t* screen);
  void absorb(const xcb_generic_error_t& error);
  void noteSent(uint32_t sequence);
  void noteWait(uint32_t sequence);
  xcb_void_cookie_t stamp(uint32_t window, uint32_t stampAtom);
  // The next event from the server or from the events held back while waiting for a time stamp.
  Event nextEvent();
  // The next event that is not an error, taking errors in on the way; none once the queue is empty.
  Event nextDeliverableEvent();
  uint32_t timeWindow();
  // Moves events that replies left in xcb's queue to the held events, where a pump finds them, and
  // wakes the waiter: a poll of the socket would not see them.
  void keepQueuedEvents();
  // Keeps one event for a pump (or, unpumped, for a time-stamp wait); under heldMutex_.
  void hold(Event event);

  xcb_connection_t* connection_ = nullptr;
  int screenNumber_ = 0;
  xcb_screen_t* screen_ = nullptr;
  xcb_ewmh_connection_t ewmh_{};
  bool ewmhReady_ = false;

  std::mutex atomMutex_;
  std::unordered_map<std::string, uint32_t> atoms_;
  std::unordered_map<uint32_t, std::string> atomNames_;

  std::mutex eventMutex_;  // one event reader at a time (a pump, or the wait for a time stamp)
  std::mutex heldMutex_;   // the held events alone
  std::deque<Event> heldEvents_;
  int wakeFd_ = -1;
  std::atomic<bool> pumped_{true};
  std::atomic<uint64_t> waits_{0};
  std::atomic<uint64_t> requests_{0};
  std::atomic<uint64_t> roundTrips_{0};
  std::atomic<uint32_t> lastSent_{0};       // the last counted request's sequence number
  std::atomic<uint32_t> answeredUpTo_{0};   // requests up to here were in flight at the last wait
  uint32_t timeWindow_ = 0;

  mutable std::mutex errorMutex_;
  uint64_t errorCount_ = 0;
  std::optional<AbsorbedError> lastError_;
};

}  // namespace quorvel
