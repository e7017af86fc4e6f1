#include "platform/x11/X11WindowServer.h"

#include "platform/x11/X11Backend.h"

namespace quorvel {

X11WindowServer::X11WindowServer(std::shared_ptr<X11Backend> backend) : backend_(std::move(backend)) {}

std::optional<std::vector<WindowListEntry>> X11WindowServer::onScreenWindows() {
  const X11WindowModel::Snapshot state = backend_->model().current();
  // A lost connection reads as no windows at all, which must not pass for an empty desktop.
  if (backend_->isBroken()) return std::nullopt;
  std::vector<WindowListEntry> list;
  list.reserve(state->frontToBack.size());
  for (uint32_t index : state->frontToBack) {
    X11Window w = state->clients[index];
    if (!state->isOnScreen(w) || w.type == X11Window::Type::desktop) continue;
    WindowListEntry entry;
    entry.number = w.id;
    entry.layer = w.layer;
    entry.ownerPid = w.pid;
    if (!w.className.empty()) entry.ownerName = w.className;
    entry.bounds = w.frame.toRect();
    entry.name = std::move(w.title);
    entry.isOnScreen = true;
    list.push_back(std::move(entry));
  }
  return list;
}

std::optional<std::vector<uint32_t>> X11WindowServer::onScreenWindowNumbers() {
  // The same windows as above, read in place from the model's snapshot.
  const X11WindowModel::Snapshot state = backend_->model().current();
  if (backend_->isBroken()) return std::nullopt;
  std::vector<uint32_t> numbers;
  numbers.reserve(state->frontToBack.size());
  for (uint32_t i : state->frontToBack) {
    const X11Window& w = state->clients[i];
    if (w.isViewable && w.type != X11Window::Type::desktop) numbers.push_back(w.id);
  }
  return numbers;
}

std::optional<std::vector<uint32_t>> X11WindowServer::activeDisplays() {
  const std::vector<X11Monitor> monitors = backend_->monitors();
  if (monitors.empty()) return std::nullopt;
  std::vector<uint32_t> ids;
  ids.reserve(monitors.size());
  for (const X11Monitor& m : monitors) ids.push_back(backend_->displayID(m));
  return ids;
}

std::optional<Rect> X11WindowServer::displayBounds(uint32_t displayID) {
  if (displayID == 0) return std::nullopt;
  for (const X11Monitor& m : backend_->monitors()) {
    if (backend_->displayID(m) == displayID) return m.frame.toRect();
  }
  return std::nullopt;
}

std::optional<WindowFocus> X11WindowServer::focus() {
  const X11WindowModel::Snapshot state = backend_->model().current();
  WindowFocus focus;
  if (state->activeWindow && state->find(*state->activeWindow)) focus.window = state->activeWindow;
  return focus;
}

std::optional<uint32_t> X11WindowServer::frontWindowOfApplication(int32_t pid) { return backend_->recentWindow(pid); }

bool X11WindowServer::preflightScreenCaptureAccess() { return true; }

bool X11WindowServer::requestScreenCaptureAccess() { return true; }

}  // namespace quorvel
