#include "platform/x11/X11KeySource.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <xcb/xfixes.h>
#include <xcb/xinput.h>

#include <algorithm>
#include <cstdlib>

#include "platform/x11/X11KeyCodes.h"

namespace quorvel {

namespace {

constexpr uint8_t kBadAccess = 10;

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
template <class T>
using Owned = std::unique_ptr<T, FreeDeleter>;

}  // namespace

std::unique_ptr<X11KeySource> X11KeySource::open(Executor& looks, const std::string& displayName) {
  const Logger logger("HotkeyManager");
  int screenNumber = 0;
  xcb_connection_t* connection = xcb_connect(displayName.empty() ? nullptr : displayName.c_str(), &screenNumber);
  if (!connection || xcb_connection_has_error(connection)) {
    if (connection) xcb_disconnect(connection);
    logger.error("The key stream cannot reach the X server");
    return nullptr;
  }
  xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
  for (int i = 0; i < screenNumber && screens.rem; ++i) xcb_screen_next(&screens);
  const xcb_query_extension_reply_t* xinput = xcb_get_extension_data(connection, &xcb_input_id);
  Owned<xcb_input_xi_query_version_reply_t> version;
  if (xinput && xinput->present) {
    version.reset(xcb_input_xi_query_version_reply(connection, xcb_input_xi_query_version(connection, 2, 2), nullptr));
  }
  if (!screens.rem || !version || version->major_version < 2) {
    xcb_disconnect(connection);
    logger.error("The X server has no XInput 2, so modifier releases cannot be seen and the shortcut stays off");
    return nullptr;
  }
  // A window manager taking over the screen (its start or restart) is told by the owner of WM_S<n>.
  uint8_t fixesEvent = 0;
  xcb_atom_t managerSelection = XCB_ATOM_NONE;
  const std::string selectionName = "WM_S" + std::to_string(screenNumber);
  Owned<xcb_intern_atom_reply_t> atom(xcb_intern_atom_reply(
      connection, xcb_intern_atom(connection, 0, static_cast<uint16_t>(selectionName.size()), selectionName.c_str()),
      nullptr));
  const xcb_query_extension_reply_t* fixes = xcb_get_extension_data(connection, &xcb_xfixes_id);
  if (atom && fixes && fixes->present) {
    Owned<xcb_xfixes_query_version_reply_t> fixesVersion(
        xcb_xfixes_query_version_reply(connection, xcb_xfixes_query_version(connection, 1, 0), nullptr));
    if (fixesVersion) {
      managerSelection = atom->atom;
      fixesEvent = static_cast<uint8_t>(fixes->first_event + XCB_XFIXES_SELECTION_NOTIFY);
      xcb_xfixes_select_selection_input(connection, screens.data->root, managerSelection,
                                        XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER);
    }
  }
  return std::unique_ptr<X11KeySource>(
      new X11KeySource(looks, connection, screens.data->root, xinput->major_opcode, fixesEvent, managerSelection));
}

X11KeySource::X11KeySource(Executor& looks, xcb_connection_t* connection, xcb_window_t root, uint8_t xinputOpcode,
                           uint8_t fixesEvent, xcb_atom_t managerSelection)
    : looks_(looks),
      connection_(connection),
      root_(root),
      xinputOpcode_(xinputOpcode),
      fixesEvent_(fixesEvent),
      managerSelection_(managerSelection) {
  wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  life_->source = this;
}

X11KeySource::~X11KeySource() {
  stop();
  xcb_disconnect(connection_);
  if (wakeFd_ >= 0) ::close(wakeFd_);
}

void X11KeySource::stop() {
  {
    // A look running now ends first; one still queued finds the source gone.
    std::lock_guard lock(life_->mutex);
    life_->source = nullptr;
  }
  {
    std::lock_guard lock(mutex_);
    if (lookTimer_) looks_.cancel(*lookTimer_);
    lookTimer_.reset();
    // Nothing grabs again from here on.
    installed_ = false;
    stopping_ = true;
  }
  wake();
  {
    std::lock_guard lock(frozenMutex_);
    frozenChanged_.notify_all();
  }
  if (reader_.joinable()) reader_.join();
  if (watchdog_.joinable()) watchdog_.join();
  {
    std::lock_guard lock(frozenMutex_);
    if (!frozen_.answered) xcb_allow_events(connection_, XCB_ALLOW_REPLAY_KEYBOARD, frozen_.time);
    frozen_.answered = true;
  }
  {
    std::lock_guard lock(mutex_);
    letGoLocked();
    releaseAllLocked();
  }
  xcb_flush(connection_);
}

void X11KeySource::wake() {
  if (wakeFd_ < 0) return;
  const uint64_t one = 1;
  [[maybe_unused]] auto written = ::write(wakeFd_, &one, sizeof one);
}

void X11KeySource::setInterest(std::vector<KeyInterest> keys) {
  Reports reports;
  {
    const ForeignReads reads(*this);
    std::lock_guard lock(mutex_);
    interest_ = std::move(keys);
    if (!installed_) return;
    reports = applyInterestLocked(false);
  }
  report(reports);
}

void X11KeySource::askForRefusedKeys() {
  Reports reports;
  {
    const ForeignReads reads(*this);
    std::lock_guard lock(mutex_);
    if (!installed_ || refused_.empty()) return;
    reports = applyInterestLocked(true);
  }
  report(reports);
}

void X11KeySource::scheduleLookLocked(Instant due) {
  if (lookTimer_ && lookDue_ <= due) return;
  if (lookTimer_) looks_.cancel(*lookTimer_);
  lookDue_ = due;
  const uint64_t generation = ++lookGeneration_;
  const Duration delay = std::max(Duration::zero(), due - looks_.clock().now());
  lookTimer_ = looks_.postAfter(delay, [life = life_, generation] {
    Reports reports;
    X11KeySource* source = nullptr;
    OwnershipHandler handler;
    {
      std::lock_guard lock(life->mutex);
      source = life->source;
      if (!source) return;
      reports = source->lookAgain(generation);
      if (reports.empty()) return;
      std::lock_guard own(source->mutex_);
      handler = source->ownership_;
    }
    // Told with no lock held; the handler is the source's copy, and outlives it.
    if (handler) {
      for (const auto& [key, held] : reports) handler(key, held);
    }
  });
}

X11KeySource::Reports X11KeySource::lookAgain(uint64_t generation) {
  const ForeignReads reads(*this);
  std::lock_guard lock(mutex_);
  if (generation != lookGeneration_) return {};
  lookTimer_.reset();
  if (!installed_ || refused_.empty()) return {};
  return applyInterestLocked(true);
}

void X11KeySource::setOwnershipHandler(OwnershipHandler handler) {
  std::lock_guard lock(mutex_);
  ownership_ = std::move(handler);
}

void X11KeySource::report(const Reports& reports) {
  OwnershipHandler handler;
  {
    std::lock_guard lock(mutex_);
    handler = ownership_;
  }
  if (!handler) return;
  for (const auto& [key, held] : reports) handler(key, held);
}

std::vector<KeyInterest> X11KeySource::refusedKeys() const {
  std::lock_guard lock(mutex_);
  return refused_;
}

std::optional<std::vector<X11KeySource::Grab>> X11KeySource::grabLocked(const KeyInterest& key, bool letGo,
                                                                         xcb_query_keymap_cookie_t* keys) {
  std::vector<Grab> grabs;
  const auto keycode = X11KeyCodes::xKeyCode(key.keyCode);
  if (!keycode || !map_) {
    if (keys) *keys = xcb_query_keymap(connection_);
    return grabs;  // a key this keyboard does not have never arrives
  }
  const uint16_t base = map_->stateFromFlags(key.requiredFlags & KeyFlags::shortcutModifiers);
  std::vector<uint16_t> masks;
  for (uint16_t shift : {uint16_t{0}, X11ModifierMap::shiftMask}) {
    for (uint16_t locks : map_->lockCombinations()) {
      const uint16_t mask = base | shift | locks;
      if (std::find(masks.begin(), masks.end(), mask) == masks.end()) masks.push_back(mask);
    }
  }
  std::vector<xcb_void_cookie_t> cookies;
  for (uint16_t mask : masks) {
    cookies.push_back(xcb_grab_key_checked(connection_, 0, root_, mask, *keycode, XCB_GRAB_MODE_ASYNC,
                                           XCB_GRAB_MODE_SYNC));
  }
  // Let go of right behind the grabs, in the same flush: held for no longer than the server takes to
  // read two requests, and let go of on the server once the answers below have come.
  if (letGo) {
    for (uint16_t mask : masks) xcb_ungrab_key(connection_, *keycode, root_, mask);
  }
  // The keys down, read in the same moment, in the server's order, not as the reader has seen them.
  if (keys) *keys = xcb_query_keymap(connection_);
  // The key with Shift is a step backward from outside the switcher; a manager may hold that
  // alone (openbox's Alt+Shift+Tab beside the Alt+Tab its user removed). Without it the key is
  // still ours: inside the switcher, which holds the whole keyboard, Shift steps back all the same.
  bool refused = false;
  for (size_t i = 0; i < cookies.size(); ++i) {
    Owned<xcb_generic_error_t> error(xcb_request_check(connection_, cookies[i]));
    if (!error) {
      grabs.push_back({*keycode, masks[i]});
    } else if (error->error_code == kBadAccess && !(masks[i] & X11ModifierMap::shiftMask)) {
      refused = true;
    }
  }
  if (refused) {
    if (!letGo) ungrabLocked(grabs);
    return std::nullopt;
  }
  return grabs;
}

void X11KeySource::ungrabLocked(const std::vector<Grab>& grabs) {
  for (const auto& g : grabs) xcb_ungrab_key(connection_, g.keycode, root_, g.modifiers);
  xcb_flush(connection_);
}

void X11KeySource::releaseAllLocked() {
  for (const auto& [key, grabs] : grabbed_) ungrabLocked(grabs);
  grabbed_.clear();
}

X11KeySource::Reports X11KeySource::applyInterestLocked(bool retryRefused) {
  auto wanted = [this](const KeyInterest& key) {
    return std::find(interest_.begin(), interest_.end(), key) != interest_.end();
  };
  for (auto it = grabbed_.begin(); it != grabbed_.end();) {
    if (!wanted(KeyInterest{it->first.first, it->first.second})) {
      ungrabLocked(it->second);
      it = grabbed_.erase(it);
    } else {
      ++it;
    }
  }
  // A refused key that left the interest is forgotten: asked for again, it is a new request.
  std::erase_if(refused_, [&](const KeyInterest& key) { return !wanted(key); });
  std::erase_if(freeSeen_,
                [&](const auto& entry) { return !wanted(KeyInterest{entry.first.first, entry.first.second}); });
  Reports reports;
  const Instant now = looks_.clock().now();
  for (const auto& key : interest_) {
    const std::pair<int64_t, uint64_t> id{key.keyCode, key.requiredFlags};
    if (grabbed_.count(id)) continue;
    const auto refusedBefore = std::find(refused_.begin(), refused_.end(), key);
    const bool wasRefused = refusedBefore != refused_.end();
    if (wasRefused && !retryRefused) continue;
    if (!wasRefused) {
      if (auto grabs = grabLocked(key)) {
        grabbed_[id] = std::move(*grabs);
      } else {
        refused_.push_back(key);
        reports.emplace_back(key, false);
      }
      continue;
    }
    // Free for a moment is not free: its holder may be between two steps of its own switcher. A
    // look that is not the one to take the key lets go of it in the same flush.
    const uint64_t presses = modifierPresses_.load();
    const auto seen = freeSeen_.find(id);
    const bool due = seen != freeSeen_.end() && seen->second.modifierPresses == presses &&
                     now - seen->second.at >= confirmDelay;
    xcb_query_keymap_cookie_t keys;
    auto grabs = grabLocked(key, !due, &keys);
    if (!grabs) {
      // Still held by its owner: nothing more is asked, and nothing another program could notice.
      xcb_discard_reply(connection_, keys.sequence);
      freeSeen_.erase(id);
      continue;
    }
    const KeyboardUse use = keyboardUseLocked(keys);
    // Looked at again once the modifiers are let go of, rather than at the next ask, which a user
    // trying the shortcut again and again may meet with a modifier down each time.
    if (use.modifierDown) awaitingRelease_ = true;
    const bool clear = !use.held && !use.modifierDown;
    if (clear && due) {
      freeSeen_.erase(seen);
      refused_.erase(refusedBefore);
      reports.emplace_back(key, true);
      grabbed_[id] = std::move(*grabs);
      continue;
    }
    if (due) {
      // Let go of on the server before going on: the holder's grab that comes next finds it free.
      ungrabLocked(*grabs);
      free(xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
    }
    if (!clear) {
      freeSeen_.erase(id);
    } else if (seen == freeSeen_.end() || seen->second.modifierPresses != presses) {
      freeSeen_[id] = {now, presses};
    }
  }
  // The keys found free are looked at again once their sighting is old enough.
  for (const auto& [id, seen] : freeSeen_) scheduleLookLocked(seen.at + confirmDelay);
  return reports;
}

void X11KeySource::keepLocked(uint64_t held) {
  keptModifiers_ = held & KeyFlags::shortcutModifiers;
  keptUntil_ = std::chrono::steady_clock::now() + keepLimit;
  if (kept_ || keptModifiers_ == 0) return;
  // The press's own grab is active: asking for the whole keyboard turns it into a grab that
  // outlasts the key.
  Owned<xcb_grab_keyboard_reply_t> reply(xcb_grab_keyboard_reply(
      connection_, xcb_grab_keyboard(connection_, 0, root_, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
      nullptr));
  kept_ = reply && reply->status == XCB_GRAB_STATUS_SUCCESS;
}

void X11KeySource::letGoLocked() {
  if (!kept_) return;
  kept_ = false;
  xcb_ungrab_keyboard(connection_, XCB_CURRENT_TIME);
  // A round trip: the server has let go before the caller's own grab arrives on its connection.
  Owned<xcb_get_input_focus_reply_t> sync(
      xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
}

bool X11KeySource::handOverKeyboard() {
  const ForeignReads reads(*this);
  std::lock_guard lock(mutex_);
  const bool held = kept_;
  letGoLocked();
  return held;
}

X11KeySource::KeyboardUse X11KeySource::keyboardUseLocked(xcb_query_keymap_cookie_t keys) {
  Owned<xcb_query_keymap_reply_t> keymap(xcb_query_keymap_reply(connection_, keys, nullptr));
  KeyboardUse use;
  if (!keymap || !map_) {
    use.held = true;
    return use;
  }
  for (int keycode = 0; keycode < 256 && !use.modifierDown; ++keycode) {
    const bool down = (keymap->keys[keycode / 8] >> (keycode % 8)) & 1;
    use.modifierDown = down && map_->modifiersOfKey(static_cast<uint8_t>(keycode)) != 0;
  }
  use.held = pressHeld_ != 0 || kept_;
  if (use.held || use.modifierDown) return use;
  // Whether another client holds the whole keyboard (a manager's switcher on screen) is told only by
  // asking for it. The grab and its release go out together: a key typed in between waits in the
  // server (the keyboard is synchronous under the grab) and is delivered as if the probe had never
  // been. The focused window sees the grab come and go, so it is asked only of a key found free.
  const auto grab =
      xcb_grab_keyboard(connection_, 0, root_, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_SYNC);
  xcb_ungrab_keyboard(connection_, XCB_CURRENT_TIME);
  Owned<xcb_grab_keyboard_reply_t> reply(xcb_grab_keyboard_reply(connection_, grab, nullptr));
  use.held = !reply || reply->status == XCB_GRAB_STATUS_ALREADY_GRABBED || reply->status == XCB_GRAB_STATUS_FROZEN;
  return use;
}

bool X11KeySource::install(Handler handler) {
  Reports reports;
  {
    std::lock_guard lock(mutex_);
    if (installed_) return true;
    if (stopping_ || !installLocked(std::move(handler), reports)) return false;
  }
  report(reports);
  return true;
}

bool X11KeySource::installLocked(Handler handler, Reports& reports) {
  if (xcb_connection_has_error(connection_)) return false;
  map_ = X11ModifierMap::read(connection_);
  if (!map_) return false;
  reports = applyInterestLocked(true);

  struct {
    xcb_input_event_mask_t head;
    uint32_t bits;
  } mask{};
  mask.head.deviceid = XCB_INPUT_DEVICE_ALL_MASTER;
  mask.head.mask_len = 1;
  mask.bits = XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS | XCB_INPUT_XI_EVENT_MASK_RAW_KEY_RELEASE;
  Owned<xcb_generic_error_t> error(
      xcb_request_check(connection_, xcb_input_xi_select_events_checked(connection_, root_, 1, &mask.head)));
  if (error) {
    releaseAllLocked();
    refused_.clear();
    reports.clear();
    return false;
  }

  // The modifiers held right now.
  readerMap_ = *map_;
  if (Owned<xcb_query_keymap_reply_t> keymap{xcb_query_keymap_reply(connection_, xcb_query_keymap(connection_), nullptr)}) {
    uint16_t mods = 0;
    for (int keycode = 0; keycode < 256; ++keycode) {
      if ((keymap->keys[keycode / 8] >> (keycode % 8)) & 1) {
        held_[keycode] = readerMap_.modifiersOfKey(static_cast<uint8_t>(keycode)) != 0;
        if (held_[keycode]) mods |= readerMap_.modifiersOfKey(static_cast<uint8_t>(keycode));
      }
    }
    lastFlags_ = readerMap_.flagsFromState(mods);
  }

  handler_ = std::move(handler);
  installed_ = true;
  disabled_ = false;
  reader_ = std::thread([this] { readLoop(); });
  watchdog_ = std::thread([this] { watchdogLoop(); });
  return true;
}

void X11KeySource::enable() { disabled_ = false; }

bool X11KeySource::answer(xcb_timestamp_t time, KeyVerdict verdict) {
  std::lock_guard lock(frozenMutex_);
  if (frozen_.answered) return frozen_.timedOut;
  xcb_allow_events(connection_, verdict == KeyVerdict::swallow ? XCB_ALLOW_ASYNC_KEYBOARD : XCB_ALLOW_REPLAY_KEYBOARD,
                   time);
  xcb_flush(connection_);
  if (verdict == KeyVerdict::deliver) pressHeld_ = 0;  // a replayed press ends the grab
  frozen_.answered = true;
  return false;
}

void X11KeySource::readLoop() {
  pthread_setname_np(pthread_self(), "HotkeyEventTap");
  const int fd = xcb_get_file_descriptor(connection_);
  while (!stopping_) {
    while (auto* raw = xcb_poll_for_event(connection_)) {
      Owned<xcb_generic_event_t> event(raw);
      handleEvent(*event);
    }
    if (xcb_connection_has_error(connection_)) {
      logger_.error("The key stream lost its connection to the X server; the shortcut no longer works");
      break;
    }
    int timeout = -1;  // nothing to do until the server or another thread says so
    if (kept_) {
      std::lock_guard lock(mutex_);
      const auto now = std::chrono::steady_clock::now();
      if (now >= keptUntil_) {
        letGoLocked();
      } else if (kept_) {
        timeout = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(keptUntil_ - now).count());
      }
    }
    if (managerSettles_) {
      const auto now = std::chrono::steady_clock::now();
      if (now >= *managerSettles_) {
        managerSettles_.reset();
        Reports reports;
        {
          std::lock_guard lock(mutex_);
          reports = applyInterestLocked(true);
        }
        report(reports);
        continue;
      }
      const int settles =
          static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(*managerSettles_ - now).count());
      timeout = timeout < 0 ? settles : std::min(timeout, settles);
    }
    // While another thread waits for a reply, the socket is its to read.
    pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {fd, POLLIN, 0}};
    ::poll(fds, foreignReads_.load() > 0 ? 1 : 2, timeout);
    ++readerWakeups_;
    if (fds[0].revents & POLLIN) {
      uint64_t count = 0;
      [[maybe_unused]] auto got = ::read(wakeFd_, &count, sizeof count);
    }
  }
}

void X11KeySource::watchdogLoop() {
  pthread_setname_np(pthread_self(), "HotkeyWatchdog");
  std::unique_lock lock(frozenMutex_);
  while (!stopping_) {
    if (frozen_.answered) {
      frozenChanged_.wait(lock);
      continue;
    }
    const auto deadline = frozen_.since + watchdogDelay;
    if (std::chrono::steady_clock::now() < deadline) {
      frozenChanged_.wait_until(lock, deadline);
      continue;
    }
    xcb_allow_events(connection_, XCB_ALLOW_REPLAY_KEYBOARD, frozen_.time);
    xcb_flush(connection_);
    pressHeld_ = 0;
    frozen_.answered = true;
    frozen_.timedOut = true;
    ++watchdogReplays_;
  }
}

void X11KeySource::handleEvent(const xcb_generic_event_t& event) {
  const uint8_t type = event.response_type & 0x7f;
  if (type == XCB_KEY_PRESS) {
    const auto& press = reinterpret_cast<const xcb_key_press_event_t&>(event);
    if (readerMap_.modifiersOfKey(press.detail) != 0) {
      // A modifier pressed while our grab is active (never one that froze the keyboard).
      handleRawKey(press.detail, true, press.time);
    } else {
      handleKeyPress(press);
    }
  } else if (type == XCB_KEY_RELEASE) {
    // While one of our grabs is active the server sends its keys to us as core events and leaves
    // us out of the raw events: a modifier let go of meanwhile arrives only here.
    const auto& release = reinterpret_cast<const xcb_key_release_event_t&>(event);
    if (release.detail == pressHeld_) pressHeld_ = 0;  // its grab ends with it
    handleRawKey(release.detail, false, release.time);
  } else if (type == XCB_MAPPING_NOTIFY) {
    // Sent for a new layout, and also whenever typing switches between keyboards (a real one and
    // XTest's): only a change of the modifiers moves the grabs.
    Reports reports;
    {
      std::lock_guard lock(mutex_);
      auto map = X11ModifierMap::read(connection_);
      if (map && map != map_) {
        map_ = map;
        readerMap_ = *map;
        // The keys held are grabbed again with the new modifiers; the refused ones stay refused.
        releaseAllLocked();
        reports = applyInterestLocked(false);
      }
    }
    report(reports);
  } else if (fixesEvent_ != 0 && type == fixesEvent_) {
    const auto& notify = reinterpret_cast<const xcb_xfixes_selection_notify_event_t&>(event);
    if (notify.selection != managerSelection_ || notify.owner == XCB_WINDOW_NONE) return;
    // A window manager took over the screen. It takes its own keys right after; what it left free
    // is asked for once it has.
    managerSettles_ = std::chrono::steady_clock::now() + managerSettleDelay;
  } else if (type == XCB_GE_GENERIC) {
    const auto& ge = reinterpret_cast<const xcb_ge_generic_event_t&>(event);
    if (ge.extension != xinputOpcode_) return;
    if (ge.event_type == XCB_INPUT_RAW_KEY_PRESS || ge.event_type == XCB_INPUT_RAW_KEY_RELEASE) {
      const auto& rawKey = reinterpret_cast<const xcb_input_raw_key_press_event_t&>(event);
      handleRawKey(static_cast<uint8_t>(rawKey.detail), ge.event_type == XCB_INPUT_RAW_KEY_PRESS, rawKey.time);
    }
  }
}

void X11KeySource::handleKeyPress(const xcb_key_press_event_t& event) {
  pressHeld_ = event.detail;
  const auto code = X11KeyCodes::virtualKeyCode(event.detail);
  if (disabled_ || !code) {
    {
      std::lock_guard lock(frozenMutex_);
      frozen_ = {event.time, std::chrono::steady_clock::now(), false, false};
    }
    answer(event.time, KeyVerdict::deliver);
    return;
  }
  {
    std::lock_guard lock(frozenMutex_);
    frozen_ = {event.time, std::chrono::steady_clock::now(), false, false};
    frozenChanged_.notify_all();
  }
  keepAsked_ = false;
  const uint64_t flags = readerMap_.flagsFromState(event.state);
  bool keyboardHeld = false;
  {
    std::lock_guard lock(mutex_);
    keyboardHeld = kept_;
  }
  const KeyVerdict verdict = handler_({KeyEvent::Type::keyDown, *code, flags, event.time, keyboardHeld});
  if (answer(event.time, verdict)) {
    // Too slow: the press went to the focused application. Stand still until the handler says so.
    disabled_ = true;
    handler_({KeyEvent::Type::disabledByTimeout, 0, 0});
    return;
  }
  if (verdict == KeyVerdict::swallow && keepAsked_.exchange(false)) {
    std::lock_guard lock(mutex_);
    keepLocked(flags);
  }
}

void X11KeySource::handleRawKey(uint8_t keycode, bool pressed, xcb_timestamp_t time) {
  if (!pressed && keycode == pressHeld_) pressHeld_ = 0;
  if (readerMap_.modifiersOfKey(keycode) == 0) return;
  if (pressed && !held_[keycode]) ++modifierPresses_;
  held_[keycode] = pressed;
  uint16_t mods = 0;
  for (int k = 0; k < 256; ++k) {
    if (held_[k]) mods |= readerMap_.modifiersOfKey(static_cast<uint8_t>(k));
  }
  if (!pressed && mods == 0) {
    // A look that found a modifier down looks again once they are all let go of, when the holder
    // of the key has had a moment to take it back (a manager's switcher closes on this release).
    std::lock_guard lock(mutex_);
    if (awaitingRelease_) {
      awaitingRelease_ = false;
      scheduleLookLocked(looks_.clock().now() + releaseSettle);
    }
  }
  const uint64_t flags = readerMap_.flagsFromState(mods);
  if (flags == lastFlags_) return;
  lastFlags_ = flags;
  if (!disabled_) handler_({KeyEvent::Type::flagsChanged, 0, flags, time});
  if (kept_) {
    std::lock_guard lock(mutex_);
    if ((flags & keptModifiers_) != keptModifiers_) letGoLocked();
  }
}

}  // namespace quorvel
