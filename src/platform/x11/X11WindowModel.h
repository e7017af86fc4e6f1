#pragma once

#include <xcb/xcb.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/x11/X11DesktopReader.h"
#include "platform/x11/X11DisplayReader.h"
#include "platform/x11/X11Rect.h"
#include "platform/x11/X11Window.h"
#include "platform/x11/X11WindowReader.h"

namespace quorvel {

class X11Connection;

// The managed windows of the session, the window manager's desktops and its active window, read once
// and then kept current from the X server's events instead of being read again for every question.
//
// The first look (`current`) reads everything with pipelined requests: the root window's lists, then
// every window's facts, all requests sent before any reply is taken. From then on only what events
// say changed is read again:
//   root property changes  _NET_CLIENT_LIST (windows that joined are read, those gone dropped),
//                          _NET_CLIENT_LIST_STACKING (the list alone), _NET_ACTIVE_WINDOW (the
//                          property alone, with the server time of the change), the desktop count,
//                          and the current desktop (which also reads every window again: a desktop
//                          switch maps and unmaps windows without telling them);
//   a window's changes     of a property that X11Window is made of, its configuration (moves,
//                          resizes), mapping, reparenting: that window alone is read again;
//                          its destruction drops it at once;
//   monitor changes        (RandR) move the origin of global coordinates: every window again.
// So a look with nothing changed sends no request, and one after a title change reads one window.
// Every window the model takes on is asked for its property and structure events before it is
// read, so no change falls between the read and the events.
//
// The events may come on a connection of their own, apart from the one the reads are made on: a
// thread waiting for events then never wakes for the replies other threads read. Events are taken
// from that connection's pump by whichever thread looks first: the platform's event thread, or a
// service asking a question. Everything that arrived is applied before an answer is
// given, so an answer is never older than the events already received. Answers are immutable
// snapshots shared by pointer: a caller keeps its snapshot as long as it likes, and a later change
// makes a new one. Each snapshot that differs from the one before carries a higher `generation`.
//
// The hostile-input bounds of X11WindowReader hold: lists are cut at kMaxListedWindows and ids that
// are no windows of the root are skipped until their list changes.
//
// Opening order: X hands each new client the lowest free client slot and a window's id comes from
// its client's slot, so ids say nothing of when windows opened. The model numbers the windows
// instead, in the order it first sees them: those of the first look in the window manager's client
// list order (_NET_CLIENT_LIST, the order in which they were first mapped), then each newcomer
// after every earlier one (several found at one look in client list order). A window keeps its
// number until it is destroyed: minimized, on another desktop, or withdrawn and managed again, it
// keeps its place. `reset` numbers afresh, as a new start does.
//
// Once the connection is lost the model is empty: no windows, no desktops, no active window.
//
// Thread-safe: one lock is held while events are applied and reads are made; no callback runs under it.
class X11WindowModel {
 public:
  struct State {
    // Every managed window, in the order the window manager took them on (_NET_CLIENT_LIST).
    std::vector<X11Window> clients;
    // Indices into `clients`, front to back (the window manager's stacking turned around); windows
    // missing from the stacking list follow in client order.
    std::vector<uint32_t> frontToBack;
    // Per client (same index as `clients`): its place in the opening order (see above), from 1.
    std::vector<uint32_t> openingOrder;
    std::optional<uint32_t> activeWindow;
    // The server time of the last change of the active window seen; 0 when none was seen.
    uint32_t activeChangedAt = 0;
    std::optional<uint32_t> numberOfDesktops;
    std::optional<uint32_t> currentDesktop;
    uint64_t generation = 0;

    // The managed window with this id; null when there is none.
    const X11Window* find(uint32_t window) const;
    // The windows front to back, as values.
    std::vector<X11Window> windowsFrontToBack() const;
    // Whether a window of this snapshot is on screen: mapped, or not minimized and on the current
    // desktop (or every desktop) by the window manager's word. A window manager switching desktops
    // may announce the new desktop before it maps that desktop's windows, or not map some windows
    // of the current desktop at all (the hidden tabs of a tab group): by the desktop they are on
    // screen all the same, and the picture stays whole at every moment of a switch.
    bool isOnScreen(const X11Window& window) const;

    std::unordered_map<uint32_t, uint32_t> indexOf;  // window id -> index into `clients`
  };
  using Snapshot = std::shared_ptr<const State>;

  // Reads and events on one connection.
  explicit X11WindowModel(X11Connection& connection);
  // Reads on `connection`, events asked for and taken on `events` (both to the same server).
  X11WindowModel(X11Connection& connection, X11Connection& events);
  X11WindowModel(const X11WindowModel&) = delete;
  X11WindowModel& operator=(const X11WindowModel&) = delete;

  // The model with every event received so far applied, reading what they name.
  Snapshot current();
  // The last snapshot made, without looking at events (no request, no wait).
  Snapshot last() const;

  // An active window a look read, with its process and the server time of the change.
  struct ActiveChange {
    int32_t pid = 0;
    uint32_t window = 0;
    uint32_t time = 0;
    bool operator==(const ActiveChange&) const = default;
  };
  static constexpr size_t kMostActiveChanges = 64;
  // The last opening number given: later windows share it. It stays below the card ids of
  // applications and tabs (see WindowCard), so a window still sorts before those it ties with.
  static constexpr uint32_t kLastOpeningOrder = 0x7FFFFFFFu;
  // Numbers are kept for at most this many windows; past it, those of windows that are not managed
  // now (withdrawn but not destroyed) are forgotten.
  static constexpr size_t kMostNumberedWindows = 4 * X11WindowReader::kMaxListedWindows;
  // The active windows read since the last call, oldest first (at most kMostActiveChanges), on
  // whichever thread the looks ran: a snapshot shows only the last of them, and a look by one
  // thread may read an active window that a look by another finds replaced already.
  std::vector<ActiveChange> takeActiveChanges();

  // Reads every window again at the next look, keeping what is known of the lists (a full pass).
  void invalidate();
  // Forgets everything: the next look reads the session afresh, as the first one did.
  void reset();

  // A count that grows whenever the server announces a change of its monitors (RandR), as seen by
  // the looks so far. What is read of the monitors can be kept until it grows.
  uint64_t monitorChanges() const { return monitorChanges_.load(std::memory_order_acquire); }
  // A count that grows whenever the server announces a change of what docks and the window
  // manager keep from the monitors: a window's strut, the client list, the work area, the current
  // desktop or the monitors themselves. What is read of that area can be kept until it grows.
  uint64_t reservedAreaChanges() const { return reservedAreaChanges_.load(std::memory_order_acquire); }

 private:
  struct Dirty {
    bool clientList = false;
    bool stacking = false;
    bool active = false;
    bool desktops = false;
    bool origin = false;
    bool everyWindow = false;
    std::unordered_set<uint32_t> windows;
    bool any() const {
      return clientList || stacking || active || desktops || origin || everyWindow || !windows.empty();
    }
  };

  void apply(const xcb_generic_event_t& event);
  // An empty snapshot once the connection is lost.
  Snapshot forgetAll();
  // Reads what `dirty_` names into a new snapshot; false when nothing changed.
  bool update();
  void selectInput();
  void watchWindows(const std::vector<uint32_t>& windows);
  bool isWatchedProperty(uint32_t atom) const;
  // Numbers the windows of `next` not numbered yet, in their order, and fills in its opening order.
  void numberWindows(State& next);

  // Whether either connection is lost.
  bool isBroken() const;

  X11Connection& connection_;
  X11Connection& events_;
  X11DisplayReader displays_;
  std::unique_ptr<X11WindowReader> reader_;
  X11DesktopReader desktopReader_;

  mutable std::mutex mutex_;
  std::atomic<uint64_t> monitorChanges_{0};
  std::atomic<uint64_t> reservedAreaChanges_{0};
  Snapshot state_;
  bool loaded_ = false;
  bool selected_ = false;
  Dirty dirty_;
  X11Rect origin_;
  std::vector<uint32_t> clientIds_;     // the client list as last read (windows of the root)
  std::vector<uint32_t> stackingIds_;   // the stacking list, front to back
  std::unordered_set<uint32_t> watched_;  // windows whose events we asked for
  std::vector<uint32_t> watchedAtoms_;
  uint8_t randrEventBase_ = 0;
  uint32_t activeChangedAt_ = 0;
  std::vector<ActiveChange> activeChanges_;
  // Window id -> its place in the opening order, for every window seen and not yet destroyed.
  std::unordered_map<uint32_t, uint32_t> openingOrder_;
  uint32_t nextOpening_ = 1;
};

}  // namespace quorvel
