#include "platform/x11/X11Backend.h"

#include <algorithm>

namespace quorvel {

X11Backend::X11Backend(std::unique_ptr<X11Connection> connection)
    : connection_(std::move(connection)),
      displays_(*connection_),
      windows_(*connection_, displays_),
      desktops_(*connection_),
      idle_(*connection_),
      actions_(*connection_) {}

std::vector<X11Window> X11Backend::windowsFrontToBack() {
  std::lock_guard lock(mutex_);
  return windows_.readAll();
}

std::vector<X11Window> X11Backend::windowsInClientOrder() {
  std::lock_guard lock(mutex_);
  return windows_.readClients();
}

std::optional<X11Window> X11Backend::managedWindow(uint32_t window) {
  if (window == 0) return std::nullopt;
  std::lock_guard lock(mutex_);
  // A window the manager let go of (withdrawn, reparented away) may live on as a bare X window.
  const std::vector<uint32_t> clients = windows_.clientList();
  if (std::find(clients.begin(), clients.end(), window) == clients.end()) return std::nullopt;
  return windows_.read(window);
}

std::vector<X11Monitor> X11Backend::monitors() {
  std::lock_guard lock(mutex_);
  return displays_.monitors();
}

uint32_t X11Backend::displayID(X11Connection& connection, const X11Monitor& monitor) {
  return connection.atom(monitor.name.empty() ? std::string_view("default") : std::string_view(monitor.name));
}

std::optional<uint32_t> X11Backend::numberOfDesktops() {
  std::lock_guard lock(mutex_);
  return desktops_.numberOfDesktops();
}

std::optional<uint32_t> X11Backend::currentDesktop() {
  std::lock_guard lock(mutex_);
  return desktops_.currentDesktop();
}

std::optional<uint32_t> X11Backend::activeWindow() {
  std::lock_guard lock(mutex_);
  return desktops_.activeWindow();
}

void X11Backend::noteRecentWindow(int32_t pid, uint32_t window, uint32_t time) {
  if (pid <= 0 || window == 0) return;
  std::lock_guard lock(recentMutex_);
  // Processes come and go; a table that has grown past any plausible session starts afresh.
  if (recentWindows_.size() >= 1024 && !recentWindows_.contains(pid)) recentWindows_.clear();
  RecentWindow& kept = recentWindows_[pid];
  // Server time is in milliseconds and wraps around: the signed difference tells the order.
  const bool older = kept.window != 0 && time != 0 && kept.time != 0 &&
                     static_cast<int32_t>(time - kept.time) < 0;
  if (older) return;
  kept = RecentWindow{window, time};
}

std::optional<uint32_t> X11Backend::recentWindow(int32_t pid) {
  std::lock_guard lock(recentMutex_);
  auto it = recentWindows_.find(pid);
  if (it == recentWindows_.end()) return std::nullopt;
  return it->second.window;
}

std::optional<double> X11Backend::idleSeconds() {
  std::lock_guard lock(mutex_);
  return idle_.idleSeconds();
}

}  // namespace quorvel
