#include "platform/sim/SimWindowServer.h"

#include "platform/sim/SimWorld.h"

namespace quorvel {

std::optional<std::vector<WindowListEntry>> SimWindowServer::onScreenWindows() {
  std::function<void(std::vector<WindowListEntry>&)> transform;
  auto list = world_->change([&](SimEffects&) -> std::optional<std::vector<WindowListEntry>> {
    transform = world_->windowListTransform;
    ++world_->windowListCalls;
    if (!world_->windowListAvailable) return std::nullopt;
    std::vector<WindowListEntry> entries;
    for (uint32_t number : world_->onScreenOrder()) {
      const SimWindowState& w = world_->windows.at(number);
      if (w.layer < 0) continue;  // desktop elements are excluded
      const SimAppState* app = world_->app(w.pid);
      entries.push_back(WindowListEntry{.number = w.number,
                                        .layer = w.layer,
                                        .ownerPid = w.pid,
                                        .ownerName = app ? app->name : std::nullopt,
                                        .bounds = w.frame,
                                        .name = w.title,
                                        .isOnScreen = true});
    }
    return entries;
  });
  if (list && transform) transform(*list);
  return list;
}

std::optional<std::vector<uint32_t>> SimWindowServer::onScreenWindowNumbers() {
  // A test's transform of the list applies to the numbers as well: take them from the list then.
  const bool transformed = world_->read([&] { return static_cast<bool>(world_->windowListTransform); });
  if (transformed) return WindowServer::onScreenWindowNumbers();
  return world_->change([&](SimEffects&) -> std::optional<std::vector<uint32_t>> {
    ++world_->windowListCalls;
    if (!world_->windowListAvailable) return std::nullopt;
    std::vector<uint32_t> numbers = world_->onScreenOrder();
    std::erase_if(numbers, [&](uint32_t number) { return world_->windows.at(number).layer < 0; });  // desktop elements
    return numbers;
  });
}

std::optional<std::vector<uint32_t>> SimWindowServer::activeDisplays() {
  return world_->read([&]() -> std::optional<std::vector<uint32_t>> {
    if (!world_->activeDisplaysAvailable) return std::nullopt;
    std::vector<uint32_t> ids;
    for (const auto* d : world_->orderedDisplays()) ids.push_back(d->spec.id);
    return ids;
  });
}

std::optional<Rect> SimWindowServer::displayBounds(uint32_t displayID) {
  return world_->read([&]() -> std::optional<Rect> {
    const SimDisplayState* d = world_->display(displayID);
    if (!d) return std::nullopt;
    return d->spec.frame;
  });
}

bool SimWindowServer::preflightScreenCaptureAccess() {
  return world_->read([&] { return world_->screenRecording; });
}

std::optional<WindowFocus> SimWindowServer::focus() {
  return world_->read([&] { return world_->reportedFocus; });
}

std::optional<uint32_t> SimWindowServer::frontWindowOfApplication(int32_t pid) {
  return world_->read([&]() -> std::optional<uint32_t> {
    const auto it = world_->reportedFrontWindows.find(pid);
    if (it == world_->reportedFrontWindows.end()) return std::nullopt;
    return it->second;
  });
}

bool SimWindowServer::requestScreenCaptureAccess() {
  return world_->change([&](SimEffects&) {
    ++world_->screenRecordingRequests;
    return world_->screenRecording;
  });
}

}  // namespace quorvel
