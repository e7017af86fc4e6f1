#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/ObserverList.h"
#include "platform/Workspace.h"
#include "platform/x11/X11Window.h"

namespace quorvel {

class Clock;
class Executor;
class X11Backend;

// The running applications of an X session. X has no applications, only clients with windows, so
// an application is a process that owns managed windows:
//   running applications = the distinct process ids of the managed windows, in the order the window
//                          manager took their first window on; localized name = the name of the
//                          application of that first window (its desktop entry's Name in the
//                          user's language, else its WM_CLASS class: X11Backend::applicationName),
//                          bundle identifier = "x11.<class>" (X11Window);
//                          a regular application when one of its windows is a normal window or a
//                          dialog (what a user switches to), else an accessory (a panel, a
//                          desktop's icons); none hidden (X cannot hide an application), the
//                          active one that of the active window;
//   frontmost            = the process of the active window (_NET_ACTIVE_WINDOW);
//   activate(pid)        = activates its most recent window: the one last raised through
//                          Accessibility or seen active (X11Backend::recentWindow) while it is
//                          still the process's, else its front-most window (on screen if it has
//                          one, else its front-most at all, which the window manager then
//                          restores); all windows are not raised one by one, since each raise
//                          would move the focus;
//   openApplication      = false: X has no application bundles to open;
//   unhide(pid)          = nothing to do: true while the process has windows.
// Processes whose windows name no process id are not applications here.
//
// Notifications, posted to the main executor (`main`), are derived from what the platform's event
// thread sees change: launch when a process id first appears among the managed windows, terminate
// when its last managed window goes, windows changed when a process that stays opens or closes a
// managed window, activate when the active window's process changes; each one noticed at the time
// of the update that found it (`clock`). An observer removed before a posted notification runs is
// not called.
class X11Workspace final : public Workspace, public std::enable_shared_from_this<X11Workspace> {
 public:
  X11Workspace(std::shared_ptr<X11Backend> backend, Executor& main, const Clock& clock);

  std::vector<RunningApplication> runningApplications() override;
  std::optional<RunningApplication> frontmostApplication() override;
  Subscription addObserver(Event event, Observer observer) override;
  bool activate(int32_t pid, bool allWindows) override;
  bool unhide(int32_t pid) override;
  bool openApplication(const std::string& bundleURL, bool activates) override;
  int32_t ownPid() override;

  // The managed windows (client order) and the active window's process as the event thread saw
  // them just now. The first call only takes note; later ones post the notifications of what
  // changed since the call before.
  void update(const std::vector<X11Window>& clients, std::optional<int32_t> activePid);

  // The applications of a list of managed windows (client order), by the rules above; each named
  // by `nameOf` its first window (by default the window's class).
  using NameOf = std::function<std::string(const X11Window&)>;
  static std::vector<RunningApplication> applications(const std::vector<X11Window>& clients,
                                                      std::optional<int32_t> activePid, const NameOf& nameOf = {});

 private:
  void post(Event event, RunningApplication application);
  // The application names of the desktop entries (X11Backend::applicationName).
  NameOf nameOf() const;

  std::shared_ptr<X11Backend> backend_;
  Executor& main_;
  const Clock& clock_;

  std::mutex mutex_;
  std::array<ObserverList<Event, const RunningApplication&>, kEventCount> observers_;  // by event
  bool started_ = false;
  std::unordered_map<int32_t, RunningApplication> known_;
  std::unordered_map<int32_t, std::vector<uint32_t>> windowsByPid_;  // managed windows, ascending
  std::optional<int32_t> activePid_;
};

}  // namespace quorvel
