#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/x11/X11Connection.h"

namespace quorvel {

// A private X session for the integration tests: Xvfb on a free display, a window manager with a
// configuration of our own (openbox unless asked otherwise; four desktops where the manager has a
// fixed number, no keyboard bindings at all, so no Alt-Tab of its own, new windows focused), and
// the clients a test launches into it. Every process it starts is in one process group that the
// destructor ends; each also dies with the test process if that crashes.
class X11Session {
 public:
  // Window managers with different habits: openbox keeps its stacking list in step with the focus,
  // IceWM updates it one change late, i3 tiles (raises nothing, has desktops only while they hold
  // windows, sets no frame extents and cannot minimize). metacity runs as it comes, with its own
  // key bindings (Alt+Tab and Alt+grave among them), as a user of it has them.
  enum class Manager { openbox, icewm, i3, metacity };
  struct Options {
    int width = 1920;
    int height = 1080;
    int desktops = 4;
    Manager manager = Manager::openbox;
    // i3 only: its default focus, which follows the pointer.
    bool focusFollowsMouse = false;
    // The manager as a new user has it, its key bindings kept: openbox with the system's rc.xml,
    // IceWM with no preferences, i3 with the system's config (its first-run wizard answered by a
    // copy of it). metacity always runs so.
    bool stock = false;
    // A D-Bus session bus for the session's programs (the manager and the tools run in it), so that
    // metacity follows GSettings changes made with gsettings.
    bool sessionBus = false;
  };

  // True when an Xvfb program is on the PATH.
  static bool xvfbInstalled();
  // True when the window manager's program is on the PATH.
  static bool installed(Manager manager);
  static const char* name(Manager manager);
  // Starts the server and the window manager and waits until the manager runs. Absent, with the
  // reason in `failure`, when either does not come up.
  static std::unique_ptr<X11Session> start(std::string& failure, Options options);
  static std::unique_ptr<X11Session> start(std::string& failure) { return start(failure, Options{}); }
  ~X11Session();
  X11Session(const X11Session&) = delete;
  X11Session& operator=(const X11Session&) = delete;

  // The display name (":7").
  const std::string& display() const { return display_; }
  Manager manager() const { return manager_; }
  // Moves a window to a desktop counted from 0, as the manager allows: with the EWMH request, or
  // under i3 (which ignores it for desktops that hold no windows yet) with its own command.
  bool moveToDesktop(uint32_t window, uint32_t desktop);
  // The test's own connection to the session.
  X11Connection& connection() { return *connection_; }

  // How long a launch may take: long enough for a machine with every core busy.
  static constexpr std::chrono::milliseconds kLaunchWait{30000};

  // Starts the test client with these arguments and waits until the window manager lists its
  // window and has finished taking it on; the window id, or absent after a time-out. `pid`
  // receives the client's process id.
  std::optional<uint32_t> launchClient(const std::vector<std::string>& arguments, pid_t* pid = nullptr);
  // Starts xterm titled `title` with class `className` (running a long sleep), and waits until the
  // window manager lists a window of that class that it did not list before and has finished taking
  // it on.
  std::optional<uint32_t> launchXterm(const std::string& title, const std::string& className,
                                      pid_t* pid = nullptr);
  // The same, with the command xterm runs and extra options before it.
  std::optional<uint32_t> launchXterm(const std::string& title, const std::string& className,
                                      const std::vector<std::string>& options,
                                      const std::vector<std::string>& command, pid_t* pid = nullptr);
  // Starts a program in the session and returns at once (its process id, or -1): standard error
  // goes to the log `name`, standard output to the read end of a pipe put in `stdoutPipe` when
  // asked for, else to the log.
  pid_t launchProgram(const std::string& name, const std::vector<std::string>& argv, int* stdoutPipe = nullptr) {
    return spawn(name, argv, stdoutPipe);
  }
  // Runs a program in the session (xdotool, say) and waits for it; true when it exits with 0.
  bool runTool(const std::vector<std::string>& argv, std::chrono::milliseconds timeout = std::chrono::seconds(10));
  // The session's own temporary folder.
  const std::string& folder() const { return folder_; }

  // Polls `condition` every 20 ms until it holds or the time runs out.
  static bool waitUntil(const std::function<bool()>& condition,
                        std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));
  // True when the process has ended (and reaps it), waiting up to `timeout`.
  bool waitForExit(pid_t pid, std::chrono::milliseconds timeout);
  // The log of a started program (its standard error), for failure messages.
  std::string log(const std::string& name) const;
  // Kills the X server at once, as a crash would, and waits until it has ended. Every connection to
  // the session breaks; the window manager and the clients end on their own or with the session.
  bool killServer();

 private:
  X11Session() = default;
  // Forks and executes `argv` in the session's process group, with standard error in the log
  // `name`. `stdoutPipe` receives the read end of a pipe on its standard output when asked for;
  // `keepFd` is passed on to the program under its own number.
  pid_t spawn(const std::string& name, const std::vector<std::string>& argv, int* stdoutPipe = nullptr,
              int keepFd = -1);
  bool inManagedList(uint32_t window);
  // True once the window manager has handled every request sent to it before this call.
  bool windowManagerCaughtUp();
  void stopAll();

  // Asks i3 to answer once it has handled every request before (its I3_SYNC message).
  bool i3CaughtUp(uint32_t probe);

  std::string folder_;
  std::string display_;
  std::string busAddress_;  // the session bus, when one was asked for
  Manager manager_ = Manager::openbox;
  pid_t group_ = 0;
  pid_t server_ = 0;
  std::vector<pid_t> children_;
  std::unique_ptr<X11Connection> connection_;
};

}  // namespace quorvel
