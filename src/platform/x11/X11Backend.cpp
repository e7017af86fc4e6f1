#include "platform/x11/X11Backend.h"

#include <algorithm>

namespace quorvel {

X11Backend::X11Backend(std::unique_ptr<X11Connection> connection, DesktopDirs desktopDirs)
    : X11Backend(std::move(connection), nullptr, std::move(desktopDirs)) {}

X11Backend::X11Backend(std::unique_ptr<X11Connection> connection, std::unique_ptr<X11Connection> events,
                       DesktopDirs desktopDirs)
    : connection_(std::move(connection)),
      events_(std::move(events)),
      displays_(*connection_),
      idle_(*connection_),
      model_(*connection_, events_ ? *events_ : *connection_),
      actions_(*connection_),
      entries_(std::move(desktopDirs)) {
  if (events_) connection_->setUnpumped();
}

std::string X11Backend::applicationName(const X11Window& window) {
  if (window.className.empty() && window.instanceName.empty()) return window.applicationName();
  std::lock_guard lock(entriesMutex_);
  return entries_.applicationName(window.className, window.instanceName).value_or(window.applicationName());
}

std::vector<X11Window> X11Backend::windowsFrontToBack() { return model_.current()->windowsFrontToBack(); }

std::vector<X11Window> X11Backend::windowsInClientOrder() { return model_.current()->clients; }

std::optional<X11Window> X11Backend::managedWindow(uint32_t window) {
  if (window == 0) return std::nullopt;
  const X11WindowModel::Snapshot state = model_.current();
  if (const X11Window* found = state->find(window)) return *found;
  return std::nullopt;
}

std::vector<X11Monitor> X11Backend::monitors() {
  model_.current();  // applies the events received so far, strut and work-area changes among them
  std::lock_guard lock(mutex_);
  const uint64_t changes = model_.reservedAreaChanges();
  if (!reserved_ || reservedRead_ != changes) {
    reserved_ = displays_.reservedArea();
    reservedRead_ = changes;
  }
  return displays_.monitors(*reserved_);
}

std::vector<X11Monitor> X11Backend::monitorFrames() {
  std::lock_guard lock(mutex_);
  const uint64_t changes = model_.monitorChanges();
  const auto now = std::chrono::steady_clock::now();
  if (framesRead_ != changes || frames_.empty() || now - framesReadAt_ >= std::chrono::seconds(1)) {
    frames_ = displays_.monitorFrames();
    framesRead_ = changes;
    framesReadAt_ = now;
  }
  return frames_;
}

uint32_t X11Backend::displayID(X11Connection& connection, const X11Monitor& monitor) {
  return connection.atom(monitor.name.empty() ? std::string_view("default") : std::string_view(monitor.name));
}

std::pair<int32_t, int32_t> X11Backend::globalOrigin() {
  std::lock_guard lock(mutex_);
  const std::optional<X11Rect> primary = displays_.primaryRootFrame();
  if (!primary) return {0, 0};
  return {primary->x, primary->y};
}

std::optional<uint32_t> X11Backend::numberOfDesktops() { return model_.current()->numberOfDesktops; }

std::optional<uint32_t> X11Backend::currentDesktop() { return model_.current()->currentDesktop; }

std::optional<uint32_t> X11Backend::activeWindow() { return model_.current()->activeWindow; }

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

void X11Backend::noteActiveChanges() {
  for (const X11WindowModel::ActiveChange& change : model_.takeActiveChanges())
    noteRecentWindow(change.pid, change.window, change.time);
}

std::optional<uint32_t> X11Backend::recentWindow(int32_t pid) {
  // Every active window read so far counts, also one a look on another thread read and found
  // replaced before the event thread could tell it.
  noteActiveChanges();
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
