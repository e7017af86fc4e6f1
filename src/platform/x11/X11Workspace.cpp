#include "platform/x11/X11Workspace.h"

#include <unistd.h>

#include <algorithm>
#include <unordered_set>

#include "base/Clock.h"
#include "base/Executor.h"
#include "platform/x11/X11Backend.h"

namespace quorvel {

X11Workspace::X11Workspace(std::shared_ptr<X11Backend> backend, Executor& main, const Clock& clock)
    : backend_(std::move(backend)), main_(main), clock_(clock) {}

std::vector<RunningApplication> X11Workspace::applications(const std::vector<X11Window>& clients,
                                                           std::optional<int32_t> activePid, const NameOf& nameOf) {
  // A process is an application the user switches to when one of its windows is: a normal window
  // or a dialog (layer 0). One whose windows are all docks, desktops, palettes or the like (a panel,
  // a desktop's icons) runs beside the others as an accessory.
  std::unordered_set<int32_t> switchable;
  for (const X11Window& w : clients) {
    if (w.pid && w.layer == 0) switchable.insert(*w.pid);
  }
  std::vector<RunningApplication> list;
  std::unordered_set<int32_t> seen;
  for (const X11Window& w : clients) {
    if (!w.pid || !seen.insert(*w.pid).second) continue;
    RunningApplication app;
    app.pid = *w.pid;
    app.bundleIdentifier = w.bundleIdentifier();
    if (std::string name = nameOf ? nameOf(w) : w.applicationName(); !name.empty()) app.localizedName = std::move(name);
    app.isHidden = false;
    app.isActive = activePid == w.pid;
    app.activationPolicy = switchable.count(*w.pid) ? ActivationPolicy::regular : ActivationPolicy::accessory;
    list.push_back(std::move(app));
  }
  return list;
}

std::vector<RunningApplication> X11Workspace::runningApplications() {
  const std::optional<uint32_t> active = backend_->activeWindow();
  const std::vector<X11Window> clients = backend_->windowsInClientOrder();
  std::optional<int32_t> activePid;
  for (const X11Window& w : clients) {
    if (active == w.id) activePid = w.pid;
  }
  return applications(clients, activePid, nameOf());
}

std::optional<RunningApplication> X11Workspace::frontmostApplication() {
  const std::optional<uint32_t> active = backend_->activeWindow();
  if (!active) return std::nullopt;
  const std::vector<X11Window> clients = backend_->windowsInClientOrder();
  auto window = std::find_if(clients.begin(), clients.end(), [&](const X11Window& w) { return w.id == *active; });
  if (window == clients.end() || !window->pid) return std::nullopt;
  for (RunningApplication& app : applications(clients, window->pid, nameOf())) {
    if (app.pid == *window->pid) return app;
  }
  return std::nullopt;
}

X11Workspace::NameOf X11Workspace::nameOf() const {
  return [backend = backend_.get()](const X11Window& w) { return backend->applicationName(w); };
}

Subscription X11Workspace::addObserver(Event event, Observer observer) {
  return observers_[static_cast<size_t>(event)].add(std::move(observer));
}

bool X11Workspace::activate(int32_t pid, bool) {
  if (pid <= 0) return false;
  const std::vector<X11Window> windows = backend_->windowsFrontToBack();
  const X11Window* target = nullptr;
  if (const std::optional<uint32_t> recent = backend_->recentWindow(pid)) {
    auto it = std::find_if(windows.begin(), windows.end(),
                           [&](const X11Window& w) { return w.id == *recent && w.pid == pid; });
    if (it != windows.end()) return backend_->actions().activate(it->id);
  }
  for (const X11Window& w : windows) {
    if (w.pid != pid) continue;
    if (w.isViewable) {
      target = &w;
      break;
    }
    if (!target) target = &w;
  }
  return target && backend_->actions().activate(target->id);
}

bool X11Workspace::unhide(int32_t pid) {
  if (pid <= 0) return false;
  const std::vector<X11Window> clients = backend_->windowsInClientOrder();
  return std::any_of(clients.begin(), clients.end(), [&](const X11Window& w) { return w.pid == pid; });
}

bool X11Workspace::openApplication(const std::string&, bool) { return false; }

int32_t X11Workspace::ownPid() { return static_cast<int32_t>(::getpid()); }

void X11Workspace::update(const std::vector<X11Window>& clients, std::optional<int32_t> activePid) {
  const Instant noticed = clock_.now();
  const std::vector<RunningApplication> now = applications(clients, activePid, nameOf());
  std::vector<std::pair<Event, RunningApplication>> changes;
  {
    std::lock_guard lock(mutex_);
    std::unordered_map<int32_t, RunningApplication> current;
    for (const RunningApplication& app : now) current.emplace(app.pid, app);
    std::unordered_map<int32_t, std::vector<uint32_t>> windowsByPid;
    for (const X11Window& w : clients) {
      if (w.pid) windowsByPid[*w.pid].push_back(w.id);
    }
    // Compared as sets: a window manager may reorder its client list without any window coming or going.
    for (auto& [pid, windows] : windowsByPid) std::sort(windows.begin(), windows.end());
    if (started_) {
      for (const auto& [pid, windows] : windowsByPid) {
        auto before = windowsByPid_.find(pid);
        if (before != windowsByPid_.end() && before->second != windows) {
          changes.emplace_back(Event::didChangeWindows, current.at(pid));
        }
      }
      for (const RunningApplication& app : now) {
        if (!known_.contains(app.pid)) changes.emplace_back(Event::didLaunchApplication, app);
      }
      for (const auto& [pid, app] : known_) {
        if (!current.contains(pid)) {
          RunningApplication gone = app;
          gone.isActive = false;
          changes.emplace_back(Event::didTerminateApplication, std::move(gone));
        }
      }
      if (activePid && activePid != activePid_) {
        auto it = current.find(*activePid);
        RunningApplication app = it != current.end() ? it->second : RunningApplication{.pid = *activePid};
        app.isActive = true;
        changes.emplace_back(Event::didActivateApplication, std::move(app));
      }
    }
    started_ = true;
    known_ = std::move(current);
    windowsByPid_ = std::move(windowsByPid);
    if (activePid) activePid_ = activePid;
  }
  for (auto& [event, app] : changes) {
    app.noticedAt = noticed;
    post(event, std::move(app));
  }
}

void X11Workspace::post(Event event, RunningApplication application) {
  main_.post([weak = weak_from_this(), event, application = std::move(application)] {
    auto self = weak.lock();
    if (!self) return;
    const auto observers = self->observers_[static_cast<size_t>(event)].snapshot();
    self.reset();
    observers.notify(event, application);
  });
}

}  // namespace quorvel
