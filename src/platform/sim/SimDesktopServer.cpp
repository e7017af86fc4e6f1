#include "platform/sim/SimDesktopServer.h"

#include <algorithm>

#include "platform/sim/SimWorld.h"

namespace quorvel {

namespace {

constexpr int32_t kFailureStatus = 1000;  // the window server's generic failure

// Counts the call; true when it may go ahead (its group is there and it is not made to fail).
bool enter(SimWorld& world, SimDesktopCall call, DesktopServer::Group group) {
  ++world.desktopCallCounts[call];
  return !world.unavailableGroups.count(group) && !world.failingCalls.count(call);
}

}  // namespace

bool SimDesktopServer::isAvailable(Group group) {
  return world_->read([&] { return !world_->unavailableGroups.count(group); });
}

std::optional<std::vector<ManagedDisplaySpaces>> SimDesktopServer::copyManagedDisplaySpaces() {
  std::function<void(std::vector<ManagedDisplaySpaces>&)> transform;
  auto list = world_->change([&](SimEffects&) -> std::optional<std::vector<ManagedDisplaySpaces>> {
    transform = world_->spacesTransform;
    if (!enter(*world_, SimDesktopCall::managedDisplaySpaces, Group::spaces)) return std::nullopt;
    std::vector<ManagedDisplaySpaces> list;
    for (const auto* d : world_->orderedDisplays()) {
      ManagedDisplaySpaces entry;
      entry.displayIdentifier = d->spec.uuid;
      if (d->current != 0) entry.currentSpaceID = d->current;
      for (const auto& s : d->spaces) entry.spaces.push_back(ManagedSpace{.id64 = s.id, .type = s.type});
      list.push_back(std::move(entry));
    }
    // With one set of desktops for all screens the window server lists a single "Main" display.
    if (!world_->separateSpaces && !list.empty()) {
      ManagedDisplaySpaces merged;
      merged.displayIdentifier = "Main";
      merged.currentSpaceID = list.front().currentSpaceID;
      for (const auto& entry : list) merged.spaces.insert(merged.spaces.end(), entry.spaces.begin(), entry.spaces.end());
      list = {std::move(merged)};
    }
    return list;
  });
  if (list && transform) transform(*list);
  return list;
}

std::optional<std::vector<uint32_t>> SimDesktopServer::copyWindowsOnSpace(int64_t spaceID, uint32_t) {
  return world_->change([&](SimEffects&) -> std::optional<std::vector<uint32_t>> {
    if (!enter(*world_, SimDesktopCall::windowsOnSpace, Group::windowList)) return std::nullopt;
    std::vector<uint32_t> found;
    if (!world_->displayOfSpace(spaceID)) return found;
    for (uint32_t number : world_->stack) {
      const auto& w = world_->windows.at(number);
      const auto spaces = world_->desktopsOf(w);
      if (std::find(spaces.begin(), spaces.end(), spaceID) != spaces.end()) found.push_back(number);
    }
    return found;
  });
}

std::optional<std::vector<int64_t>> SimDesktopServer::copySpacesForWindows(const std::vector<uint32_t>& windows,
                                                                           uint32_t) {
  return world_->change([&](SimEffects&) -> std::optional<std::vector<int64_t>> {
    if (!enter(*world_, SimDesktopCall::spacesForWindows, Group::spaces)) return std::nullopt;
    std::vector<int64_t> spaces;
    for (uint32_t number : windows) {
      const SimWindowState* w = world_->window(number);
      if (!w) continue;
      for (int64_t space : world_->desktopsOf(*w)) {
        if (std::find(spaces.begin(), spaces.end(), space) == spaces.end()) spaces.push_back(space);
      }
    }
    return spaces;
  });
}

bool SimDesktopServer::moveWindowsToSpace(const std::vector<uint32_t>& windows, int64_t spaceID) {
  return world_->change([&](SimEffects&) {
    if (!enter(*world_, SimDesktopCall::moveWindows, Group::move)) return false;
    if (windows.empty() || spaceID < 1) return false;
    // The request is made; windows move only to a desktop that exists.
    if (!world_->displayOfSpace(spaceID)) return true;
    for (uint32_t number : windows) {
      if (SimWindowState* w = world_->window(number); w && !w->ignoresDesktopMoves) {
        w->sticky = false;
        w->desktops = {spaceID};
      }
    }
    return true;
  });
}

int32_t SimDesktopServer::setWindowBackgroundBlur(uint32_t window, int32_t radius) {
  return world_->change([&](SimEffects&) {
    if (!enter(*world_, SimDesktopCall::backgroundBlur, Group::blur)) return kFailureStatus;
    if (window == 0) return kFailureStatus;
    world_->blurRadii[window] = std::max(radius, 0);
    return 0;
  });
}

}  // namespace quorvel
