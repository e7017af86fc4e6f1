#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/x11/DesktopEntryIcons.h"
#include "platform/x11/X11Connection.h"
#include "platform/x11/X11DesktopReader.h"
#include "platform/x11/X11DisplayReader.h"
#include "platform/x11/X11IdleReader.h"
#include "platform/x11/X11Monitor.h"
#include "platform/x11/X11Window.h"
#include "platform/x11/X11WindowActions.h"
#include "platform/x11/X11WindowModel.h"

namespace quorvel {

// What every X11 service shares: the one connection, the model of the managed windows (X11WindowModel:
// read once, kept current from the server's events, so the window questions below cost no request
// while nothing changes), the readers of monitors and idle time behind one lock (they keep small
// caches of what the server supports, so two threads must not use them at once), and the window
// actions.
//
// Display ids: a monitor's id is the X atom of its RandR name ("HDMI-1"). Atoms stay fixed for the
// life of the X server, so a monitor keeps its id while others come and go or change order, and two
// monitors never share one. The id is never 0.
class X11Backend {
 public:
  // Everything on one connection.
  explicit X11Backend(std::unique_ptr<X11Connection> connection,
                      DesktopDirs desktopDirs = DesktopDirs::fromEnvironment());
  // Requests on `connection`, the window model's events on `events`, a second connection to the
  // same server that carries no other thread's replies: a thread waiting for the events wakes for
  // them alone. Events that reach `connection` (errors of requests sent without a check) are not
  // kept for any pump.
  X11Backend(std::unique_ptr<X11Connection> connection, std::unique_ptr<X11Connection> events,
             DesktopDirs desktopDirs = DesktopDirs::fromEnvironment());
  X11Backend(const X11Backend&) = delete;
  X11Backend& operator=(const X11Backend&) = delete;

  X11Connection& connection() { return *connection_; }
  // The connection the window model's events arrive on: the one to wait on for changes.
  X11Connection& events() { return events_ ? *events_ : *connection_; }
  bool isBroken() const { return connection_->isBroken() || (events_ && events_->isBroken()); }

  // The window model; `model().current()` is the snapshot every answer below is taken from.
  X11WindowModel& model() { return model_; }

  // Every managed window, front to back (the window manager's stacking turned around).
  std::vector<X11Window> windowsFrontToBack();
  // Every managed window in the order the window manager took them on (_NET_CLIENT_LIST).
  std::vector<X11Window> windowsInClientOrder();
  // One window while the window manager manages it; absent when it is gone or no longer managed.
  std::optional<X11Window> managedWindow(uint32_t window);

  // The monitors with the parts docks leave free. The reserved area (every window's struts) is read
  // again only after the server announced a change of it (events applied first), so a look costs
  // one request for the monitors while nothing changes; the monitors themselves are always read,
  // since a monitor set by a client is announced by no event.
  std::vector<X11Monitor> monitors();
  // The monitors with their whole frames only (`visibleFrame` is the frame), kept until the server
  // announces a change of monitors and for at most a second besides (a monitor set by a client,
  // as `xrandr --setmonitor` does, is announced by no event), so looks that need no free area (the
  // window pictures' displays, on every pass) cost one request a second instead of two for every
  // managed window.
  std::vector<X11Monitor> monitorFrames();
  static uint32_t displayID(X11Connection& connection, const X11Monitor& monitor);
  uint32_t displayID(const X11Monitor& monitor) { return displayID(*connection_, monitor); }

  // The primary monitor's top-left corner in root coordinates: global coordinates plus it are root
  // coordinates. (0, 0) when it cannot be read.
  std::pair<int32_t, int32_t> globalOrigin();

  std::optional<uint32_t> numberOfDesktops();
  std::optional<uint32_t> currentDesktop();
  std::optional<uint32_t> activeWindow();
  std::optional<double> idleSeconds();

  // The name of a window's application: the Name of its desktop entry in the user's language
  // (DesktopEntryIcons), else its WM_CLASS class (X11Window), else "". Safe from any thread.
  std::string applicationName(const X11Window& window);

  // Pager-style requests to the window manager; they keep no state, so they need no lock.
  X11WindowActions& actions() { return actions_; }

  // The window of a process that was brought forward last: by our own requests (noted when they
  // are sent, before the window manager has acted) or as the window manager's active window. Lets
  // an application be activated through the window just raised, not through whichever window the
  // stacking order still shows in front. `time` is the server time of the request or of the
  // active-window change: a note older than the one kept (a change the event thread reads late)
  // is ignored; 0 (unknown) always counts as newer.
  void noteRecentWindow(int32_t pid, uint32_t window, uint32_t time);
  // Notes every active window the model's looks read since the last call (see
  // X11WindowModel::takeActiveChanges); recentWindow() does so before it answers.
  void noteActiveChanges();
  std::optional<uint32_t> recentWindow(int32_t pid);

 private:
  std::unique_ptr<X11Connection> connection_;
  std::unique_ptr<X11Connection> events_;  // none when the events come on connection_
  std::mutex mutex_;
  X11DisplayReader displays_;
  X11IdleReader idle_;
  X11WindowModel model_;
  X11WindowActions actions_;
  std::vector<X11Monitor> frames_;  // under mutex_
  std::optional<uint64_t> framesRead_;  // monitorChanges() when frames_ was read
  std::chrono::steady_clock::time_point framesReadAt_;
  std::optional<X11DisplayReader::ReservedArea> reserved_;  // under mutex_
  uint64_t reservedRead_ = 0;  // reservedAreaChanges() when reserved_ was read
  std::mutex entriesMutex_;
  DesktopEntryIcons entries_;  // under entriesMutex_
  std::mutex recentMutex_;
  struct RecentWindow {
    uint32_t window = 0;
    uint32_t time = 0;
  };
  std::unordered_map<int32_t, RecentWindow> recentWindows_;
};

}  // namespace quorvel
