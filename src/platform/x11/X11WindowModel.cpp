#include "platform/x11/X11WindowModel.h"

#include <xcb/randr.h>

#include <algorithm>
#include <utility>

#include "platform/x11/X11Connection.h"

namespace quorvel {

namespace {

// Events that arrive while a look reads are applied before it answers; a session that keeps
// changing faster than it can be read is answered after this many rounds and read further at the
// next look.
constexpr int kMostRounds = 4;

}  // namespace

const X11Window* X11WindowModel::State::find(uint32_t window) const {
  auto it = indexOf.find(window);
  return it == indexOf.end() ? nullptr : &clients[it->second];
}

std::vector<X11Window> X11WindowModel::State::windowsFrontToBack() const {
  std::vector<X11Window> windows;
  windows.reserve(frontToBack.size());
  for (uint32_t i : frontToBack) windows.push_back(clients[i]);
  return windows;
}

bool X11WindowModel::State::isOnScreen(const X11Window& window) const {
  if (window.isViewable) return true;
  if (window.minimized || !currentDesktop) return false;
  return window.onAllDesktops || window.desktop == currentDesktop;
}

X11WindowModel::X11WindowModel(X11Connection& connection) : X11WindowModel(connection, connection) {}

X11WindowModel::X11WindowModel(X11Connection& connection, X11Connection& events)
    : connection_(connection),
      events_(events),
      displays_(connection),
      reader_(std::make_unique<X11WindowReader>(connection, displays_)),
      desktopReader_(connection),
      state_(std::make_shared<State>()) {
  xcb_ewmh_connection_t* ewmh = connection_.ewmh();
  watchedAtoms_ = {ewmh->_NET_WM_NAME,       XCB_ATOM_WM_NAME,           XCB_ATOM_WM_CLASS,
                   ewmh->_NET_WM_PID,        ewmh->_NET_FRAME_EXTENTS,   ewmh->_NET_WM_STATE,
                   ewmh->_NET_WM_WINDOW_TYPE, ewmh->_NET_WM_DESKTOP,     XCB_ATOM_WM_TRANSIENT_FOR,
                   connection_.atom("_GTK_FRAME_EXTENTS")};
}

std::vector<X11WindowModel::ActiveChange> X11WindowModel::takeActiveChanges() {
  std::lock_guard lock(mutex_);
  return std::exchange(activeChanges_, {});
}

X11WindowModel::Snapshot X11WindowModel::last() const {
  std::lock_guard lock(mutex_);
  return state_;
}

void X11WindowModel::invalidate() {
  std::lock_guard lock(mutex_);
  dirty_.clientList = dirty_.stacking = dirty_.active = dirty_.desktops = dirty_.everyWindow = true;
}

void X11WindowModel::reset() {
  std::lock_guard lock(mutex_);
  loaded_ = false;
  dirty_ = Dirty{};
  monitorChanges_.fetch_add(1, std::memory_order_acq_rel);
  reservedAreaChanges_.fetch_add(1, std::memory_order_acq_rel);
  state_ = std::make_shared<State>(State{.generation = state_->generation + 1});
  clientIds_.clear();
  stackingIds_.clear();
  watched_.clear();
  openingOrder_.clear();
  nextOpening_ = 1;
  reader_ = std::make_unique<X11WindowReader>(connection_, displays_);
}

bool X11WindowModel::isBroken() const { return connection_.isBroken() || events_.isBroken(); }

void X11WindowModel::selectInput() {
  events_.watchRoot();
  xcb_connection_t* c = events_.xcb();
  const xcb_query_extension_reply_t* randr = xcb_get_extension_data(c, &xcb_randr_id);
  if (randr && randr->present) {
    randrEventBase_ = randr->first_event;
    xcb_randr_select_input(c, events_.root(),
                           XCB_RANDR_NOTIFY_MASK_SCREEN_CHANGE | XCB_RANDR_NOTIFY_MASK_CRTC_CHANGE |
                               XCB_RANDR_NOTIFY_MASK_OUTPUT_CHANGE);
  }
  selected_ = true;
}

bool X11WindowModel::isWatchedProperty(uint32_t atom) const {
  return std::find(watchedAtoms_.begin(), watchedAtoms_.end(), atom) != watchedAtoms_.end();
}

void X11WindowModel::apply(const xcb_generic_event_t& event) {
  const uint8_t type = event.response_type & 0x7f;
  const auto known = [&](uint32_t window) { return watched_.contains(window); };
  switch (type) {
    case XCB_PROPERTY_NOTIFY: {
      const auto& e = reinterpret_cast<const xcb_property_notify_event_t&>(event);
      xcb_ewmh_connection_t* ewmh = connection_.ewmh();
      if (e.atom == ewmh->_NET_WM_STRUT_PARTIAL || e.atom == ewmh->_NET_WM_STRUT ||
          (e.window == connection_.root() &&
           (e.atom == ewmh->_NET_CLIENT_LIST || e.atom == ewmh->_NET_WORKAREA || e.atom == ewmh->_NET_CURRENT_DESKTOP)))
        reservedAreaChanges_.fetch_add(1, std::memory_order_acq_rel);
      if (e.window == connection_.root()) {
        if (e.atom == ewmh->_NET_CLIENT_LIST) {
          dirty_.clientList = true;
        } else if (e.atom == ewmh->_NET_CLIENT_LIST_STACKING) {
          dirty_.stacking = true;
        } else if (e.atom == ewmh->_NET_ACTIVE_WINDOW) {
          dirty_.active = true;
          activeChangedAt_ = e.time;
        } else if (e.atom == ewmh->_NET_NUMBER_OF_DESKTOPS) {
          dirty_.desktops = true;
        } else if (e.atom == ewmh->_NET_CURRENT_DESKTOP) {
          dirty_.desktops = true;
          dirty_.everyWindow = true;
        }
      } else if (known(e.window) && isWatchedProperty(e.atom)) {
        dirty_.windows.insert(e.window);
      }
      return;
    }
    case XCB_CONFIGURE_NOTIFY: {
      const auto& e = reinterpret_cast<const xcb_configure_notify_event_t&>(event);
      if (known(e.window)) dirty_.windows.insert(e.window);
      return;
    }
    case XCB_MAP_NOTIFY: {
      const auto& e = reinterpret_cast<const xcb_map_notify_event_t&>(event);
      if (known(e.window)) dirty_.windows.insert(e.window);
      return;
    }
    case XCB_UNMAP_NOTIFY: {
      const auto& e = reinterpret_cast<const xcb_unmap_notify_event_t&>(event);
      if (known(e.window)) dirty_.windows.insert(e.window);
      return;
    }
    case XCB_REPARENT_NOTIFY: {
      const auto& e = reinterpret_cast<const xcb_reparent_notify_event_t&>(event);
      if (known(e.window)) dirty_.windows.insert(e.window);
      return;
    }
    case XCB_DESTROY_NOTIFY: {
      const auto& e = reinterpret_cast<const xcb_destroy_notify_event_t&>(event);
      if (known(e.window)) dirty_.windows.insert(e.window);
      // Also for a window that left the client list: its events stay asked for until it goes, and
      // a new window under its id is a newcomer.
      openingOrder_.erase(e.window);
      return;
    }
    default:
      break;
  }
  if (randrEventBase_ != 0 && (type == randrEventBase_ + XCB_RANDR_SCREEN_CHANGE_NOTIFY ||
                               type == randrEventBase_ + XCB_RANDR_NOTIFY)) {
    dirty_.origin = true;
    monitorChanges_.fetch_add(1, std::memory_order_acq_rel);
    reservedAreaChanges_.fetch_add(1, std::memory_order_acq_rel);
  }
}

void X11WindowModel::watchWindows(const std::vector<uint32_t>& windows) {
  const uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
  bool asked = false;
  for (uint32_t window : windows) {
    if (!watched_.insert(window).second) continue;
    // No reply: a window already gone answers with an error the pump absorbs.
    events_.counted(xcb_change_window_attributes(events_.xcb(), window, XCB_CW_EVENT_MASK, &mask));
    asked = true;
  }
  // The server orders the requests of one connection, not those of two: the events are surely
  // asked for before the reads begin only once the server has answered on the events' connection.
  if (asked && &events_ != &connection_) events_.sync();
}

bool X11WindowModel::update() {
  const Dirty dirty = std::exchange(dirty_, Dirty{});
  const State& before = *state_;
  State next;
  next.activeWindow = before.activeWindow;
  next.activeChangedAt = before.activeChangedAt;
  next.numberOfDesktops = before.numberOfDesktops;
  next.currentDesktop = before.currentDesktop;

  bool everyWindow = dirty.everyWindow;
  if (dirty.origin) {
    if (std::optional<X11Rect> origin = displays_.primaryRootFrame()) {
      everyWindow = everyWindow || *origin != origin_;
      origin_ = *origin;
    }
  }
  if (dirty.clientList) {
    clientIds_ = reader_->managedClients();
    // The window manager changes both lists together; the stacking list is read with the other.
    stackingIds_ = reader_->managedFrontToBack();
  } else if (dirty.stacking) {
    stackingIds_ = reader_->managedFrontToBack();
  }
  if (dirty.active) {
    next.activeWindow = desktopReader_.activeWindow();
    next.activeChangedAt = activeChangedAt_;
  }
  if (dirty.desktops) {
    next.numberOfDesktops = desktopReader_.numberOfDesktops();
    next.currentDesktop = desktopReader_.currentDesktop();
  }

  // The managed windows: the client list, then windows only the stacking list names.
  std::vector<uint32_t> managed = clientIds_;
  {
    std::unordered_set<uint32_t> inClients(clientIds_.begin(), clientIds_.end());
    for (uint32_t window : stackingIds_) {
      if (!inClients.contains(window)) managed.push_back(window);
    }
  }
  std::vector<uint32_t> toRead;
  for (uint32_t window : managed) {
    if (everyWindow || !before.indexOf.contains(window) || dirty.windows.contains(window)) toRead.push_back(window);
  }
  // Windows no longer managed are no longer watched: X reuses ids, and a new window under an old
  // id must be asked for its events again.
  if (dirty.clientList || dirty.stacking) {
    const std::unordered_set<uint32_t> keep(managed.begin(), managed.end());
    std::erase_if(watched_, [&](uint32_t window) { return !keep.contains(window); });
  }
  watchWindows(toRead);
  std::vector<X11Window> read = reader_->read(toRead, origin_);
  std::unordered_map<uint32_t, size_t> readAt;
  for (size_t i = 0; i < read.size(); ++i) readAt.emplace(read[i].id, i);

  next.clients.reserve(managed.size());
  for (uint32_t window : managed) {
    if (auto it = readAt.find(window); it != readAt.end()) {
      next.clients.push_back(std::move(read[it->second]));
    } else if (!everyWindow && !dirty.windows.contains(window)) {
      if (const X11Window* known = before.find(window)) next.clients.push_back(*known);
    }
    // A window asked for and not found is gone: it is left out, and the client list will say so.
  }
  next.indexOf.reserve(next.clients.size());
  for (size_t i = 0; i < next.clients.size(); ++i) next.indexOf.emplace(next.clients[i].id, static_cast<uint32_t>(i));
  numberWindows(next);
  next.frontToBack.reserve(next.clients.size());
  std::vector<bool> placed(next.clients.size(), false);
  for (uint32_t window : stackingIds_) {
    if (auto it = next.indexOf.find(window); it != next.indexOf.end() && !placed[it->second]) {
      placed[it->second] = true;
      next.frontToBack.push_back(it->second);
    }
  }
  for (uint32_t i = 0; i < next.clients.size(); ++i) {
    if (!placed[i]) next.frontToBack.push_back(i);
  }

  const bool changed = next.clients != before.clients || next.openingOrder != before.openingOrder ||
                       next.frontToBack != before.frontToBack ||
                       next.activeWindow != before.activeWindow || next.activeChangedAt != before.activeChangedAt ||
                       next.numberOfDesktops != before.numberOfDesktops || next.currentDesktop != before.currentDesktop;
  // A new active window, or one whose process has just become known.
  const X11Window* active = next.activeWindow ? next.find(*next.activeWindow) : nullptr;
  const X11Window* wasActive = before.activeWindow ? before.find(*before.activeWindow) : nullptr;
  if (active && active->pid &&
      (next.activeWindow != before.activeWindow || !wasActive || wasActive->pid != active->pid)) {
    if (activeChanges_.size() >= kMostActiveChanges) activeChanges_.erase(activeChanges_.begin());
    activeChanges_.push_back({*active->pid, active->id, next.activeChangedAt});
  }
  if (!changed) return false;
  next.generation = before.generation + 1;
  state_ = std::make_shared<const State>(std::move(next));
  return true;
}

void X11WindowModel::numberWindows(State& next) {
  next.openingOrder.reserve(next.clients.size());
  for (const X11Window& window : next.clients) {
    const auto [it, fresh] = openingOrder_.try_emplace(window.id, nextOpening_);
    if (fresh && nextOpening_ < kLastOpeningOrder) ++nextOpening_;
    next.openingOrder.push_back(it->second);
  }
  if (openingOrder_.size() > kMostNumberedWindows) {
    std::erase_if(openingOrder_, [&](const auto& entry) { return !next.indexOf.contains(entry.first); });
  }
}

X11WindowModel::Snapshot X11WindowModel::forgetAll() {
  // Nothing is known of a session that cannot be asked: no windows, no desktops.
  if (!state_->clients.empty() || state_->numberOfDesktops || state_->activeWindow || state_->currentDesktop) {
    state_ = std::make_shared<const State>(State{.generation = state_->generation + 1});
  }
  return state_;
}

X11WindowModel::Snapshot X11WindowModel::current() {
  std::lock_guard lock(mutex_);
  if (isBroken()) return forgetAll();
  if (!selected_) selectInput();
  const uint64_t told = state_->generation;
  const auto pump = [&] { events_.pumpEvents([&](const xcb_generic_event_t& event) { apply(event); }); };
  pump();
  if (!loaded_) {
    dirty_.clientList = dirty_.stacking = dirty_.active = dirty_.desktops = dirty_.origin = dirty_.everyWindow = true;
    loaded_ = true;
  }
  for (int round = 0; round < kMostRounds && dirty_.any() && !isBroken(); ++round) {
    update();
    pump();
  }
  // The event thread tells the services what changed; it may be waiting while this thread took
  // the events.
  if (isBroken()) return forgetAll();
  if (state_->generation != told) events_.wake();
  return state_;
}

}  // namespace quorvel
