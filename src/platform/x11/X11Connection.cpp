#include "platform/x11/X11Connection.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cstring>

namespace quorvel {

namespace {

constexpr auto kServerTimeWait = std::chrono::milliseconds(1000);
// Events an unpumped connection keeps for a time-stamp wait: one wait takes one stamp, so a few
// are plenty; older ones give way.
constexpr size_t kMostUnpumpedEvents = 16;

}  // namespace

std::vector<uint32_t> X11Connection::Property::values32() const {
  std::vector<uint32_t> values;
  if (format != 32) return values;
  values.resize(bytes.size() / 4);
  if (!values.empty()) std::memcpy(values.data(), bytes.data(), values.size() * 4);
  return values;
}

std::optional<uint32_t> X11Connection::Property::firstValue32() const {
  if (format != 32 || bytes.size() < 4) return std::nullopt;
  uint32_t value = 0;
  std::memcpy(&value, bytes.data(), 4);
  return value;
}

std::unique_ptr<X11Connection> X11Connection::open(const std::string& displayName) {
  int screenNumber = 0;
  xcb_connection_t* connection = xcb_connect(displayName.empty() ? nullptr : displayName.c_str(), &screenNumber);
  if (!connection || xcb_connection_has_error(connection)) {
    if (connection) xcb_disconnect(connection);
    return nullptr;
  }
  xcb_screen_t* screen = nullptr;
  xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection));
  for (int i = 0; it.rem > 0; ++i, xcb_screen_next(&it)) {
    if (i == screenNumber) {
      screen = it.data;
      break;
    }
  }
  if (!screen) {
    xcb_disconnect(connection);
    return nullptr;
  }
  std::unique_ptr<X11Connection> result(new X11Connection(connection, screenNumber, screen));
  xcb_intern_atom_cookie_t* cookies = xcb_ewmh_init_atoms(connection, &result->ewmh_);
  if (!cookies) return nullptr;
  xcb_generic_error_t* error = nullptr;
  if (!xcb_ewmh_init_atoms_replies(&result->ewmh_, cookies, &error)) {
    std::free(error);
    return nullptr;
  }
  result->ewmhReady_ = true;
  return result;
}

X11Connection::X11Connection(xcb_connection_t* connection, int screenNumber, xcb_screen_t* screen)
    : connection_(connection),
      screenNumber_(screenNumber),
      screen_(screen),
      wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

X11Connection::~X11Connection() {
  if (ewmhReady_) xcb_ewmh_connection_wipe(&ewmh_);
  heldEvents_.clear();
  if (wakeFd_ >= 0) ::close(wakeFd_);
  xcb_disconnect(connection_);
}

bool X11Connection::isBroken() const { return xcb_connection_has_error(connection_) != 0; }

uint32_t X11Connection::atom(std::string_view name) {
  std::string key(name);
  {
    std::lock_guard lock(atomMutex_);
    if (auto found = atoms_.find(key); found != atoms_.end()) return found->second;
  }
  auto cookie = xcb_intern_atom(connection_, 0, static_cast<uint16_t>(key.size()), key.data());
  auto r = reply(xcb_intern_atom_reply, cookie);
  if (!r) return 0;
  std::lock_guard lock(atomMutex_);
  atoms_[key] = r->atom;
  return r->atom;
}

std::string X11Connection::atomName(uint32_t atomValue) {
  if (atomValue == 0) return {};
  {
    std::lock_guard lock(atomMutex_);
    if (auto found = atomNames_.find(atomValue); found != atomNames_.end()) return found->second;
  }
  auto r = reply(xcb_get_atom_name_reply, xcb_get_atom_name(connection_, atomValue));
  if (!r) return {};
  std::string name(xcb_get_atom_name_name(r.get()), static_cast<size_t>(xcb_get_atom_name_name_length(r.get())));
  // An atom keeps its name for the life of the server: asked once. The table is bounded, since a
  // client may make up any number of atoms.
  std::lock_guard lock(atomMutex_);
  if (atomNames_.size() >= 4096) atomNames_.clear();
  atomNames_.emplace(atomValue, name);
  atoms_.emplace(name, atomValue);
  return name;
}

void X11Connection::noteSent(uint32_t sequence) { lastSent_.store(sequence, std::memory_order_relaxed); }

void X11Connection::noteWait(uint32_t sequence) {
  // Sequence numbers wrap around: the signed difference tells the order.
  const uint32_t answered = answeredUpTo_.load(std::memory_order_relaxed);
  if (static_cast<int32_t>(sequence - answered) <= 0) return;
  roundTrips_.fetch_add(1, std::memory_order_relaxed);
  const uint32_t sent = lastSent_.load(std::memory_order_relaxed);
  answeredUpTo_.store(static_cast<int32_t>(sent - sequence) > 0 ? sent : sequence, std::memory_order_relaxed);
}

bool X11Connection::check(xcb_void_cookie_t cookie) {
  noteWait(cookie.sequence);
  xcb_generic_error_t* error = xcb_request_check(connection_, cookie);
  keepQueuedEvents();
  if (!error) return !isBroken();
  absorb(*error);
  std::free(error);
  return false;
}

xcb_get_property_cookie_t X11Connection::requestProperty(uint32_t window, uint32_t propertyAtom, uint32_t type,
                                                         uint32_t maxLength) {
  return counted(xcb_get_property(connection_, 0, window, propertyAtom, type, 0, maxLength));
}

std::optional<X11Connection::Property> X11Connection::takeProperty(xcb_get_property_cookie_t cookie, uint32_t type) {
  auto r = reply(xcb_get_property_reply, cookie);
  if (!r || r->type == XCB_ATOM_NONE) return std::nullopt;
  if (type != 0 && r->type != type) return std::nullopt;
  if (r->format != 8 && r->format != 16 && r->format != 32) return std::nullopt;
  Property p;
  p.type = r->type;
  p.format = r->format;
  p.truncated = r->bytes_after > 0;
  const int length = xcb_get_property_value_length(r.get());
  if (length > 0) {
    const auto* data = static_cast<const uint8_t*>(xcb_get_property_value(r.get()));
    p.bytes.assign(data, data + length);
  }
  return p;
}

std::optional<X11Connection::Property> X11Connection::property(uint32_t window, uint32_t propertyAtom, uint32_t type,
                                                               uint32_t maxLength) {
  return takeProperty(requestProperty(window, propertyAtom, type, maxLength), type);
}

void X11Connection::flush() { xcb_flush(connection_); }

bool X11Connection::sync() {
  auto r = reply(xcb_get_input_focus_reply, xcb_get_input_focus(connection_));
  return r != nullptr;
}

uint32_t X11Connection::timeWindow() {
  if (timeWindow_ != 0) return timeWindow_;
  const uint32_t window = xcb_generate_id(connection_);
  const uint32_t values[] = {1, XCB_EVENT_MASK_PROPERTY_CHANGE};  // override-redirect: no manager
  auto cookie = xcb_create_window_checked(connection_, XCB_COPY_FROM_PARENT, window, root(), -1, -1, 1, 1, 0,
                                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT,
                                          XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
  if (!check(cookie)) return 0;
  timeWindow_ = window;
  return timeWindow_;
}

xcb_void_cookie_t X11Connection::stamp(uint32_t window, uint32_t stampAtom) {
  // Appending nothing changes nothing but still stamps a PropertyNotify with the server's time.
  return counted(
      xcb_change_property_checked(connection_, XCB_PROP_MODE_APPEND, window, stampAtom, XCB_ATOM_STRING, 8, 0, nullptr));
}

std::optional<uint32_t> X11Connection::serverTime() { return takeServerTime(requestServerTime()); }

X11Connection::TimeRequest X11Connection::requestServerTime() {
  TimeRequest request;
  request.events = std::unique_lock(eventMutex_);
  request.stamp = atom("_QUORVEL_TIME_STAMP");
  if (request.stamp == 0) return request;
  request.window = timeWindow();
  if (request.window != 0) request.cookie = stamp(request.window, request.stamp);
  return request;
}

std::optional<uint32_t> X11Connection::takeServerTime(TimeRequest request) {
  uint32_t window = request.window;
  if (window == 0) return std::nullopt;
  if (!check(request.cookie)) {
    // Any client may destroy any window, ours too: a time window found gone is made anew, once.
    timeWindow_ = 0;
    window = timeWindow();
    if (window == 0) return std::nullopt;
    if (!check(stamp(window, request.stamp))) {
      timeWindow_ = 0;
      return std::nullopt;
    }
  }
  const uint32_t stampAtom = request.stamp;
  const auto deadline = std::chrono::steady_clock::now() + kServerTimeWait;
  const auto stampOf = [&](const Event& event) -> std::optional<uint32_t> {
    if ((event->response_type & 0x7f) != XCB_PROPERTY_NOTIFY) return std::nullopt;
    const auto* notify = reinterpret_cast<const xcb_property_notify_event_t*>(event.get());
    if (notify->window == window && notify->atom == stampAtom) return notify->time;
    return std::nullopt;
  };
  while (!isBroken()) {
    {
      // Another thread's reply may have moved the stamp among the held events.
      std::lock_guard held(heldMutex_);
      for (auto it = heldEvents_.begin(); it != heldEvents_.end(); ++it) {
        if (const std::optional<uint32_t> time = stampOf(*it)) {
          heldEvents_.erase(it);
          return time;
        }
      }
    }
    while (Event event{xcb_poll_for_event(connection_)}) {
      if (const std::optional<uint32_t> time = stampOf(event)) return time;
      std::lock_guard held(heldMutex_);
      hold(std::move(event));
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd fd{xcb_get_file_descriptor(connection_), POLLIN, 0};
    ::poll(&fd, 1, static_cast<int>(left.count()));
  }
  return std::nullopt;
}

X11Connection::Event X11Connection::nextEvent() {
  {
    std::lock_guard held(heldMutex_);
    if (!heldEvents_.empty()) {
      Event event = std::move(heldEvents_.front());
      heldEvents_.pop_front();
      return event;
    }
  }
  return Event(xcb_poll_for_event(connection_));
}

void X11Connection::setUnpumped() { pumped_.store(false, std::memory_order_relaxed); }

void X11Connection::hold(Event event) {
  if (pumped_.load(std::memory_order_relaxed)) {
    heldEvents_.push_back(std::move(event));
    return;
  }
  // Nobody pumps: errors are counted here, and only property changes (time stamps among them)
  // wait, in a short queue.
  const uint8_t type = event->response_type & 0x7f;
  if (event->response_type == 0) {
    absorb(*reinterpret_cast<const xcb_generic_error_t*>(event.get()));
    return;
  }
  if (type != XCB_PROPERTY_NOTIFY) return;
  if (heldEvents_.size() >= kMostUnpumpedEvents) heldEvents_.pop_front();
  heldEvents_.push_back(std::move(event));
}

void X11Connection::keepQueuedEvents() {
  bool kept = false;
  {
    std::lock_guard held(heldMutex_);
    while (Event event{xcb_poll_for_queued_event(connection_)}) {
      hold(std::move(event));
      kept = true;
    }
  }
  // A reply of one thread never wakes the waiter of an unpumped connection: it waits for nothing.
  if (kept && pumped_.load(std::memory_order_relaxed)) wake();
}

void X11Connection::wake() {
  if (wakeFd_ < 0) return;
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = ::write(wakeFd_, &one, sizeof one);
}

bool X11Connection::waitForEventsOrWake() {
  for (;;) {
    {
      std::lock_guard held(heldMutex_);
      if (!heldEvents_.empty()) return true;
      if (Event event{xcb_poll_for_queued_event(connection_)}) {
        heldEvents_.push_back(std::move(event));
        return true;
      }
    }
    if (isBroken()) return false;
    pollfd fds[2] = {{xcb_get_file_descriptor(connection_), POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    waits_.fetch_add(1, std::memory_order_relaxed);
    const int ready = ::poll(fds, wakeFd_ >= 0 ? 2 : 1, -1);
    if (ready < 0) continue;  // a signal
    if (fds[1].revents & POLLIN) {
      uint64_t count = 0;
      [[maybe_unused]] const ssize_t got = ::read(wakeFd_, &count, sizeof count);
      return !isBroken();
    }
    if (fds[0].revents & (POLLERR | POLLHUP)) return !isBroken();
    if (fds[0].revents & POLLIN) return true;
  }
}

size_t X11Connection::pumpEvents(const std::function<void(const xcb_generic_event_t&)>& handler) {
  size_t handled = 0;
  while (Event event = nextDeliverableEvent()) {
    if (handler) handler(*event);
    ++handled;
  }
  return handled;
}

size_t X11Connection::takeEvents(std::deque<Event>& into) {
  size_t taken = 0;
  while (Event event = nextDeliverableEvent()) {
    into.push_back(std::move(event));
    ++taken;
  }
  return taken;
}

X11Connection::Event X11Connection::nextDeliverableEvent() {
  for (;;) {
    Event event;
    {
      std::lock_guard lock(eventMutex_);
      event = nextEvent();
    }
    if (!event || event->response_type != 0) return event;
    absorb(*reinterpret_cast<const xcb_generic_error_t*>(event.get()));
  }
}

bool X11Connection::waitForEvents(std::chrono::milliseconds timeout) {
  {
    std::lock_guard lock(heldMutex_);
    if (!heldEvents_.empty()) return true;
    // Events already read from the socket would not wake a poll: look at xcb's own queue first.
    if (Event event{xcb_poll_for_queued_event(connection_)}) {
      heldEvents_.push_back(std::move(event));
      return true;
    }
  }
  if (isBroken()) return false;
  pollfd fd{xcb_get_file_descriptor(connection_), POLLIN, 0};
  return ::poll(&fd, 1, static_cast<int>(timeout.count())) > 0;
}

int X11Connection::fileDescriptor() const { return xcb_get_file_descriptor(connection_); }

void X11Connection::watchRoot() {
  const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
  xcb_change_window_attributes(connection_, root(), XCB_CW_EVENT_MASK, &mask);
  xcb_flush(connection_);
}

void X11Connection::absorb(const xcb_generic_error_t& error) {
  std::lock_guard lock(errorMutex_);
  ++errorCount_;
  lastError_ = AbsorbedError{error.error_code, error.resource_id, error.major_code, error.minor_code};
}

uint64_t X11Connection::absorbedErrorCount() const {
  std::lock_guard lock(errorMutex_);
  return errorCount_;
}

std::optional<X11Connection::AbsorbedError> X11Connection::lastAbsorbedError() const {
  std::lock_guard lock(errorMutex_);
  return lastError_;
}

}  // namespace quorvel
