#include "X11Session.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/x11/X11DesktopReader.h"
#include "platform/x11/X11DisplayReader.h"
#include "platform/x11/X11WindowActions.h"
#include "platform/x11/X11WindowReader.h"

extern char** environ;

namespace quorvel {

namespace {

using namespace std::chrono_literals;

// Openbox's configuration: four desktops, no key or mouse bindings (its own window cycling on
// Alt-Tab must not answer the tests' shortcuts), new windows take the focus.
std::string openboxConfig(int desktops) {
  std::ostringstream rc;
  rc << R"(<?xml version="1.0" encoding="UTF-8"?>
<openbox_config xmlns="http://openbox.org/3.4/rc">
  <resistance><strength>0</strength><screen_edge_strength>0</screen_edge_strength></resistance>
  <focus><focusNew>yes</focusNew><followMouse>no</followMouse></focus>
  <placement><policy>Smart</policy><center>no</center></placement>
  <desktops><number>)"
     << desktops << R"(</number><firstdesk>1</firstdesk><popupTime>0</popupTime></desktops>
  <margins><top>0</top><bottom>0</bottom><left>0</left><right>0</right></margins>
  <keyboard></keyboard>
  <mouse></mouse>
</openbox_config>
)";
  return rc.str();
}

// IceWM's preferences: the same habits, its task bar and its own window switching off.
std::string icewmPreferences(int desktops) {
  std::ostringstream prefs;
  prefs << "WorkspaceNames=";
  for (int i = 1; i <= desktops; ++i) prefs << (i > 1 ? ", " : "") << '"' << i << '"';
  prefs << "\nShowTaskBar=0\nQuickSwitch=0\nFocusOnAppRaise=1\nRequestFocusOnAppRaise=1\n"
        << "ClickToFocus=1\nFocusOnMap=1\nShowPopupsAbovePointer=0\nDesktopBackgroundColor=\"\"\n";
  return prefs.str();
}

// i3's configuration: no bar, no bindings, activation requests always focus.
std::string i3Config(bool focusFollowsMouse) {
  return std::string("font pango:monospace 8\n") +
         (focusFollowsMouse ? "focus_follows_mouse yes\n" : "focus_follows_mouse no\n") +
         "focus_on_window_activation focus\n"
         "workspace_auto_back_and_forth no\n";
}

// Reads one line from `fd` within `timeout`; absent on time-out or end of file.
std::optional<std::string> readLine(int fd, std::chrono::milliseconds timeout) {
  std::string line;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return std::nullopt;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    char ch = 0;
    const ssize_t n = ::read(fd, &ch, 1);
    if (n <= 0) return std::nullopt;
    if (ch == '\n') return line;
    line.push_back(ch);
  }
}

bool onPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  if (!path) return false;
  std::stringstream folders(path);
  std::string folder;
  while (std::getline(folders, folder, ':')) {
    if (!folder.empty() && ::access((folder + "/" + program).c_str(), X_OK) == 0) return true;
  }
  return false;
}

}  // namespace

bool X11Session::xvfbInstalled() { return onPath("Xvfb"); }

const char* X11Session::name(Manager manager) {
  switch (manager) {
    case Manager::openbox: return "openbox";
    case Manager::icewm: return "icewm";
    case Manager::i3: return "i3";
    case Manager::metacity: return "metacity";
  }
  return "";
}

bool X11Session::installed(Manager manager) { return onPath(name(manager)); }

std::unique_ptr<X11Session> X11Session::start(std::string& failure, Options options) {
  std::unique_ptr<X11Session> session(new X11Session());
  char folder[] = "/tmp/quorvel-x11-XXXXXX";
  if (!::mkdtemp(folder)) {
    failure = "cannot make a temporary folder";
    return nullptr;
  }
  session->folder_ = folder;
  std::filesystem::create_directories(session->folder_ + "/config");

  int displayPipe[2];
  if (::pipe2(displayPipe, O_CLOEXEC) != 0) {
    failure = "cannot make a pipe";
    return nullptr;
  }
  const std::string screen = std::to_string(options.width) + "x" + std::to_string(options.height) + "x24";
  const pid_t server = session->spawn("Xvfb",
                                      {"Xvfb", "-displayfd", std::to_string(displayPipe[1]), "-screen", "0", screen,
                                       "-nolisten", "tcp", "-noreset"},
                                      nullptr, displayPipe[1]);
  ::close(displayPipe[1]);
  session->server_ = server;
  std::optional<std::string> number = server > 0 ? readLine(displayPipe[0], 15s) : std::nullopt;
  ::close(displayPipe[0]);
  if (!number || number->empty()) {
    failure = "Xvfb did not start: " + session->log("Xvfb");
    return nullptr;
  }
  session->display_ = ":" + *number;

  session->connection_ = X11Connection::open(session->display_);
  if (!session->connection_) {
    failure = "cannot connect to Xvfb on " + session->display_;
    return nullptr;
  }

  if (options.sessionBus) {
    int out = -1;
    const pid_t bus = session->spawn("dbus-daemon", {"dbus-daemon", "--session", "--nofork", "--print-address"}, &out);
    std::optional<std::string> address = bus > 0 ? readLine(out, 15s) : std::nullopt;
    if (out >= 0) ::close(out);
    if (!address || address->empty()) {
      failure = "the session bus did not start: " + session->log("dbus-daemon");
      return nullptr;
    }
    session->busAddress_ = *address;
  }

  session->manager_ = options.manager;
  const std::string manager = name(options.manager);
  std::vector<std::string> command;
  switch (options.manager) {
    case Manager::openbox: {
      if (options.stock) {
        command = {"openbox"};  // no rc.xml under the session's configuration folder
        break;
      }
      const std::string config = session->folder_ + "/rc.xml";
      std::ofstream(config) << openboxConfig(options.desktops);
      command = {"openbox", "--config-file", config};
      break;
    }
    case Manager::icewm: {
      if (options.stock) {
        command = {"icewm"};
        break;
      }
      std::filesystem::create_directories(session->folder_ + "/.icewm");
      std::ofstream(session->folder_ + "/.icewm/preferences") << icewmPreferences(options.desktops);
      std::ofstream(session->folder_ + "/.icewm/keys");
      command = {"icewm"};
      break;
    }
    case Manager::i3: {
      if (options.stock) {
        std::filesystem::create_directories(session->folder_ + "/config/i3");
        std::error_code ignored;
        std::filesystem::copy_file("/etc/i3/config", session->folder_ + "/config/i3/config", ignored);
        command = {"i3"};
        break;
      }
      const std::string config = session->folder_ + "/i3-config";
      std::ofstream(config) << i3Config(options.focusFollowsMouse);
      command = {"i3", "-c", config};
      break;
    }
    case Manager::metacity: command = {"metacity"}; break;
  }
  if (session->spawn(manager, command) <= 0) {
    failure = "cannot start " + manager;
    return nullptr;
  }
  X11DesktopReader desktops(*session->connection_);
  // i3 has as many desktops as it has workspaces, one to begin with.
  const uint32_t wanted = options.manager == Manager::i3 ? 1u : static_cast<uint32_t>(options.desktops);
  const bool managerUp = waitUntil(
      [&] { return desktops.windowManagerName().has_value() && desktops.numberOfDesktops() == wanted; }, 15s);
  // Its names are set while it starts; it answers requests once it runs its event loop.
  if (!managerUp || !session->windowManagerCaughtUp()) {
    failure = manager + " did not come up: " + session->log(manager);
    return nullptr;
  }
  return session;
}

X11Session::~X11Session() {
  connection_.reset();
  stopAll();
  if (!folder_.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
}

void X11Session::stopAll() {
  if (group_ > 0) ::kill(-group_, SIGTERM);
  const auto reapAll = [this](std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!children_.empty() && std::chrono::steady_clock::now() < deadline) {
      std::erase_if(children_, [](pid_t pid) { return ::waitpid(pid, nullptr, WNOHANG) != 0; });
      if (!children_.empty()) std::this_thread::sleep_for(10ms);
    }
  };
  reapAll(2000ms);
  if (!children_.empty() && group_ > 0) {
    ::kill(-group_, SIGKILL);
    reapAll(2000ms);
  }
  group_ = 0;
}

pid_t X11Session::spawn(const std::string& name, const std::vector<std::string>& argv, int* stdoutPipe, int keepFd) {
  // Everything the child needs is prepared before the fork: after it only system calls run.
  std::vector<std::string> environment;
  for (char** e = environ; *e; ++e) {
    const std::string entry = *e;
    if (entry.starts_with("DISPLAY=") || entry.starts_with("HOME=") || entry.starts_with("XDG_CONFIG_HOME=")) continue;
    if (!busAddress_.empty() && entry.starts_with("DBUS_SESSION_BUS_ADDRESS=")) continue;
    environment.push_back(entry);
  }
  if (!busAddress_.empty()) environment.push_back("DBUS_SESSION_BUS_ADDRESS=" + busAddress_);
  if (!display_.empty()) environment.push_back("DISPLAY=" + display_);
  environment.push_back("HOME=" + folder_);
  environment.push_back("XDG_CONFIG_HOME=" + folder_ + "/config");
  std::vector<char*> envp;
  for (std::string& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::vector<std::string> arguments = argv;
  std::vector<char*> args;
  for (std::string& a : arguments) args.push_back(a.data());
  args.push_back(nullptr);
  const std::string logPath = folder_ + "/" + name + ".log";

  int out[2] = {-1, -1};
  if (stdoutPipe && ::pipe2(out, O_CLOEXEC) != 0) return -1;
  const pid_t parent = ::getpid();
  const pid_t group = group_;
  const pid_t pid = ::fork();
  if (pid < 0) {
    if (stdoutPipe) {
      ::close(out[0]);
      ::close(out[1]);
    }
    return -1;
  }
  if (pid == 0) {
    ::setpgid(0, group);
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(127);
    const int devNull = ::open("/dev/null", O_RDONLY);
    if (devNull >= 0) ::dup2(devNull, STDIN_FILENO);
    const int logFd = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (logFd >= 0) ::dup2(logFd, STDERR_FILENO);
    if (stdoutPipe) {
      ::dup2(out[1], STDOUT_FILENO);
    } else if (logFd >= 0) {
      ::dup2(logFd, STDOUT_FILENO);
    }
    if (keepFd >= 0) ::fcntl(keepFd, F_SETFD, 0);
    ::execvpe(args[0], args.data(), envp.data());
    ::_exit(127);
  }
  ::setpgid(pid, group == 0 ? pid : group);
  if (group_ == 0) group_ = pid;
  children_.push_back(pid);
  if (stdoutPipe) {
    ::close(out[1]);
    *stdoutPipe = out[0];
  }
  return pid;
}

bool X11Session::inManagedList(uint32_t window) {
  X11DisplayReader displays(*connection_);
  X11WindowReader reader(*connection_, displays);
  const std::vector<uint32_t> clients = reader.clientList();
  return std::find(clients.begin(), clients.end(), window) != clients.end();
}

std::optional<uint32_t> X11Session::launchClient(const std::vector<std::string>& arguments, pid_t* pid) {
  std::vector<std::string> argv{QUORVEL_X11_TEST_CLIENT};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  int out = -1;
  const pid_t child = spawn("x11_test_client", argv, &out);
  if (child <= 0) return std::nullopt;
  if (pid) *pid = child;
  std::optional<std::string> line = readLine(out, kLaunchWait);
  ::close(out);
  if (!line) return std::nullopt;
  const uint32_t window = static_cast<uint32_t>(std::strtoul(line->c_str(), nullptr, 16));
  if (window == 0 || !waitUntil([&] { return inManagedList(window); }, kLaunchWait)) return std::nullopt;
  // The manager lists a window before it has finished taking it on (its desktop, frame, mapping
  // and focus come after): wait for that too.
  if (!windowManagerCaughtUp()) return std::nullopt;
  return window;
}

bool X11Session::windowManagerCaughtUp() {
  // A frame-extents request for a window of our own that the manager does not manage: it answers by
  // setting the extents on that window, after every request it received before. A manager still
  // starting up may let a request go unanswered, so it is asked again every half second.
  xcb_connection_t* c = connection_->xcb();
  const uint32_t probe = xcb_generate_id(c);
  xcb_create_window(c, XCB_COPY_FROM_PARENT, probe, connection_->root(), 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                    XCB_COPY_FROM_PARENT, 0, nullptr);
  if (manager_ == Manager::i3) {
    const bool answered = i3CaughtUp(probe);
    xcb_destroy_window(c, probe);
    connection_->flush();
    return answered;
  }
  auto lastAsked = std::chrono::steady_clock::time_point{};
  const bool answered = waitUntil(
      [&] {
        if (std::chrono::steady_clock::now() - lastAsked >= 500ms) {
          xcb_ewmh_request_frame_extents(connection_->ewmh(), connection_->screenNumber(), probe);
          connection_->flush();
          lastAsked = std::chrono::steady_clock::now();
        }
        return connection_->property(probe, connection_->ewmh()->_NET_FRAME_EXTENTS).has_value();
      },
      kLaunchWait);
  xcb_destroy_window(c, probe);
  connection_->flush();
  return answered;
}

bool X11Session::i3CaughtUp(uint32_t probe) {
  // i3 answers an I3_SYNC message on the root with the same message to the window it names, after
  // every request it received before.
  xcb_connection_t* c = connection_->xcb();
  const uint32_t sync = connection_->atom("I3_SYNC");
  static uint32_t counter = 0;
  const uint32_t token = ++counter;
  bool answered = false;
  auto lastAsked = std::chrono::steady_clock::time_point{};
  waitUntil(
      [&] {
        if (std::chrono::steady_clock::now() - lastAsked >= 500ms) {
          xcb_client_message_event_t message{};
          message.response_type = XCB_CLIENT_MESSAGE;
          message.format = 32;
          message.window = connection_->root();
          message.type = sync;
          message.data.data32[0] = probe;
          message.data.data32[1] = token;
          xcb_send_event(c, 0, connection_->root(),
                         XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                         reinterpret_cast<const char*>(&message));
          connection_->flush();
          lastAsked = std::chrono::steady_clock::now();
        }
        connection_->pumpEvents([&](const xcb_generic_event_t& event) {
          if ((event.response_type & 0x7f) != XCB_CLIENT_MESSAGE) return;
          const auto& m = reinterpret_cast<const xcb_client_message_event_t&>(event);
          if (m.type == sync && m.data.data32[1] == token) answered = true;
        });
        return answered;
      },
      kLaunchWait);
  return answered;
}

bool X11Session::moveToDesktop(uint32_t window, uint32_t desktop) {
  if (manager_ != Manager::i3) {
    X11WindowActions actions(*connection_);
    return actions.moveToDesktop(window, desktop);
  }
  char id[16];
  std::snprintf(id, sizeof id, "0x%x", window);
  // i3 names its workspaces by number from 1; a new one is made as the window moves there.
  return runTool({"i3-msg", "-q", std::string("[id=") + id + "] move container to workspace number " +
                                        std::to_string(desktop + 1)}) &&
         windowManagerCaughtUp();
}

std::optional<uint32_t> X11Session::launchXterm(const std::string& title, const std::string& className, pid_t* pid) {
  return launchXterm(title, className, {}, {"sleep", "600"}, pid);
}

bool X11Session::runTool(const std::vector<std::string>& argv, std::chrono::milliseconds timeout) {
  const pid_t child = spawn(argv.front(), argv);
  if (child <= 0) return false;
  int status = -1;
  const bool ended = waitUntil([&] { return ::waitpid(child, &status, WNOHANG) == child; }, timeout);
  if (!ended) return false;
  std::erase(children_, child);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::optional<uint32_t> X11Session::launchXterm(const std::string& title, const std::string& className,
                                                const std::vector<std::string>& options,
                                                const std::vector<std::string>& command, pid_t* pid) {
  std::vector<std::string> argv{"xterm", "-T", title, "-class", className};
  argv.insert(argv.end(), options.begin(), options.end());
  argv.push_back("-e");
  argv.insert(argv.end(), command.begin(), command.end());
  X11DisplayReader displays(*connection_);
  X11WindowReader reader(*connection_, displays);
  // The new xterm's window is the one of that class that was not there before.
  std::vector<uint32_t> before;
  for (const X11Window& w : reader.readAll()) {
    if (w.className == className) before.push_back(w.id);
  }
  const pid_t child = spawn("xterm", argv);
  if (child <= 0) return std::nullopt;
  if (pid) *pid = child;
  std::optional<uint32_t> found;
  waitUntil(
      [&] {
        for (const X11Window& w : reader.readAll()) {
          if (w.className == className && std::find(before.begin(), before.end(), w.id) == before.end()) found = w.id;
        }
        return found.has_value();
      },
      kLaunchWait);
  if (found && !windowManagerCaughtUp()) return std::nullopt;
  return found;
}

bool X11Session::waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(20ms);
  }
}

bool X11Session::waitForExit(pid_t pid, std::chrono::milliseconds timeout) {
  const bool ended = waitUntil([&] { return ::waitpid(pid, nullptr, WNOHANG) == pid; }, timeout);
  if (ended) std::erase(children_, pid);
  return ended;
}

bool X11Session::killServer() {
  if (server_ <= 0) return false;
  ::kill(server_, SIGKILL);
  const bool ended = waitForExit(server_, 5000ms);
  if (ended) server_ = 0;
  return ended;
}

std::string X11Session::log(const std::string& name) const {
  std::ifstream file(folder_ + "/" + name + ".log");
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

}  // namespace quorvel
